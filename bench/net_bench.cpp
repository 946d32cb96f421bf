// A programmer on another machine, measured end to end: chipwright-cli runs Auto (erase, program, verify, lock)
// of a 20 KB AT89C55 image against chipwright-sim served by ser2net on 127.0.0.1, each run a fresh tool
// process; the time is its wall time from start to exit.
//  - Unpaced (the simulator answers at once): natively by RFC 2217 (--port rfc2217://...) against the socat
//    recipe (ser2net's plain TCP accepter, socat's pseudo-terminal as the port). Goal: native no slower.
//  - Paced like a 9600-baud line: natively through ser2net with the README's configuration (no Nagle delay on
//    its TCP side, tcp(nodelay), and no holding back of received characters, chardelay: false), and with
//    each of the two left at ser2net's default, against the simulator's pseudo-terminal used directly.
//    Goal: the README's configuration within 2 % of the direct run (the counter vs_direct).
// Every run must exit with 0. ser2net, socat and the simulator are started here and stopped afterwards.
// Run: build/bench/net_bench (about five minutes: the paced runs take some 55 s each).
#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

namespace {

constexpr int imageSize = 20480;

QString toolPath(const char* name) {
    return QCoreApplication::applicationDirPath() + "/../" + name;
}

// A loopback port free at the moment (ser2net is then told to listen on it).
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool listening(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

void stop(QProcess& p) {
    if (p.state() == QProcess::NotRunning) return;
    p.terminate();
    if (!p.waitForFinished(3000)) {
        p.kill();
        p.waitForFinished(3000);
    }
}

enum class Route { Direct, Native, Socat };

// The simulator, and ser2net (and socat) in front of it as the route asks; stopped when it goes.
class Setup {
public:
    struct Ser2net {
        bool chardelay = false; // ser2net's default: true
        bool nodelay = true;    // ser2net's default: false
    };
    Setup(Route route, bool paced, Ser2net options) {
        if (!dir_.isValid()) return;
        QByteArray image(imageSize, '\0');
        QRandomGenerator rng(7);
        for (char& c : image) c = static_cast<char>(rng.bounded(256));
        for (int i = 0; i < imageSize; i += 5) image[i] = char(0xFF);
        image_ = dir_.filePath("image.bin");
        QFile f(image_);
        if (!f.open(QIODevice::WriteOnly) || f.write(image) != imageSize) return;
        f.close();

        QStringList simArgs;
        if (paced) simArgs << "--baud" << "9600";
        sim_.start(toolPath("chipwright-sim"), simArgs);
        if (!sim_.waitForStarted(5000)) return;
        QByteArray line;
        while (!line.contains('\n') && sim_.waitForReadyRead(5000)) line += sim_.readAllStandardOutput();
        const QString device = QString::fromUtf8(line).section('\n', 0, 0).trimmed();
        if (device.isEmpty()) return;
        if (route == Route::Direct) {
            port_ = device;
            return;
        }

        const int tcpPort = freePort();
        QFile config(dir_.filePath("ser2net.yaml"));
        if (!config.open(QIODevice::WriteOnly)) return;
        QByteArray yaml = "%YAML 1.1\n---\nconnection: &programmer\n  accepter: ";
        yaml += route == Route::Native ? "telnet(rfc2217)," : "";
        yaml += options.nodelay ? "tcp(nodelay),127.0.0.1," : "tcp,127.0.0.1,";
        yaml += QByteArray::number(tcpPort) + "\n  connector: serialdev," + device.toUtf8() + ",9600n81,local\n";
        if (!options.chardelay) yaml += "  options:\n    chardelay: false\n";
        config.write(yaml);
        config.close();
        ser2net_.start(QStringLiteral("ser2net"), {"-n", "-u", "-c", config.fileName()});
        if (!ser2net_.waitForStarted(5000)) ser2net_.start(QStringLiteral("/usr/sbin/ser2net"), ser2net_.arguments());
        if (!ser2net_.waitForStarted(5000)) return;
        for (int i = 0; i < 200 && !listening(tcpPort); ++i) QThread::msleep(25);
        if (route == Route::Native) {
            port_ = QStringLiteral("rfc2217://127.0.0.1:%1").arg(tcpPort);
            return;
        }
        const QString link = dir_.filePath("remote-programmer");
        socat_.start(QStringLiteral("socat"), {QStringLiteral("pty,raw,echo=0,link=%1").arg(link),
                                               QStringLiteral("tcp:127.0.0.1:%1").arg(tcpPort)});
        if (!socat_.waitForStarted(5000)) return;
        for (int i = 0; i < 200 && !QFile::exists(link); ++i) QThread::msleep(25);
        port_ = link;
    }
    ~Setup() {
        stop(socat_);
        stop(ser2net_);
        sim_.closeWriteChannel();
        stop(sim_);
    }

    bool ok() const { return !port_.isEmpty(); }

    // One Auto run; its wall time in seconds, or a negative number when it failed.
    double autoRun(QString& error) {
        QProcess cli;
        QStringList env = QProcess::systemEnvironment().filter(QRegularExpression("^(?!XDG_CONFIG_HOME=)"));
        env << "XDG_CONFIG_HOME=" + dir_.filePath("config");
        cli.setEnvironment(env);
        QElapsedTimer timer;
        timer.start();
        cli.start(toolPath("chipwright-cli"), {"--port", port_, "--chip", "AT89C55", "--quiet", "auto", image_});
        if (!cli.waitForFinished(300000) || cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0) {
            error = QString::fromUtf8(cli.readAllStandardError() + cli.readAllStandardOutput()).simplified();
            stop(cli);
            return -1;
        }
        return static_cast<double>(timer.nsecsElapsed()) / 1e9;
    }

private:
    QTemporaryDir dir_;
    QString image_, port_;
    QProcess sim_, ser2net_, socat_;
};

std::map<std::string, double> seconds; // the last time of each case, for the comparisons

void run(benchmark::State& state, const std::string& name, Route route, bool paced, Setup::Ser2net options,
         const std::string& against) {
    Setup setup(route, paced, options);
    if (!setup.ok()) {
        state.SkipWithError("could not start the simulator, ser2net or socat");
        return;
    }
    double last = 0;
    for (auto _ : state) {
        QString error;
        last = setup.autoRun(error);
        if (last < 0) {
            state.SkipWithError(("auto failed: " + error).toStdString().c_str());
            return;
        }
        state.SetIterationTime(last);
    }
    seconds[name] = last;
    if (!against.empty() && seconds.count(against)) {
        const double ratio = last / seconds[against];
        state.counters["vs_" + against] = ratio;
    }
}

// The socat recipe as it stood: ser2net's plain accepter with its defaults.
void BM_Unpaced_Socat(benchmark::State& s) {
    run(s, "socat", Route::Socat, false, {true, false}, "");
}
void BM_Unpaced_Rfc2217(benchmark::State& s) {
    run(s, "native", Route::Native, false, {}, "socat");
}
void BM_Paced9600_Direct(benchmark::State& s) {
    run(s, "direct", Route::Direct, true, {}, "");
}
void BM_Paced9600_Rfc2217_ReadmeConfig(benchmark::State& s) {
    run(s, "readme", Route::Native, true, {}, "direct");
}
void BM_Paced9600_Rfc2217_DefaultChardelay(benchmark::State& s) {
    run(s, "chardelay", Route::Native, true, {true, true}, "direct");
}
void BM_Paced9600_Rfc2217_WithoutNodelay(benchmark::State& s) {
    run(s, "nagle", Route::Native, true, {false, false}, "direct");
}

} // namespace

BENCHMARK(BM_Unpaced_Socat)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_Unpaced_Rfc2217)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_Paced9600_Direct)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_Paced9600_Rfc2217_ReadmeConfig)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_Paced9600_Rfc2217_DefaultChardelay)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_Paced9600_Rfc2217_WithoutNodelay)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
