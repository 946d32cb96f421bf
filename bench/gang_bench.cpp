// Gang programming from the command line: one chipwright-cli process runs Auto (erase, program, verify, lock)
// of a 4 KB AT89C51 image on 1, 2, 4, 8, 16 and 32 programmers at once, each a chipwright-sim process of its own
// pacing its wire like a 9600-baud line. Each size is run three times with fresh simulators; the time is the
// median wall time of the whole command-line run, from its start to its exit. Counters (medians):
//  - vs_one: the wall time over the one-programmer wall time. The goal: 8 programmers within 5 % of one
//    (vs_one <= 1.05), and so 32; the label of each row says whether that size keeps within it;
//  - peak_rss_mb, peak_fds, peak_threads: the tool's peak memory, open descriptors and threads (sampled
//    every 20 ms), which must grow with the number of programmers and nothing else;
//  - cpu_ms_per_programmer: the command-line tool's CPU time (user + system, start-up included) over the
//    number of programmers; sim_cpu_ms_per_programmer: the simulators' own, kept apart (they are not the
//    program, but they share the machine with it);
//  - port_s_max: the longest run of one port as the tool's --log gives it; outside_ports_ms: the wall time
//    less that, which is what the tool spends around the ports' runs (start-up, threads, closing the ports);
//  - spread_pct: the slowest run's wall time less the fastest one's, against the median.
// A run counts only when the tool exits with 0, its summary and its log say "passed" for every port, and
// every simulator's chip memory holds the image afterwards.
// Run: build/bench/gang_bench (about three and a half minutes: 18 runs of some 11 s of wire time each;
// --benchmark_filter=/32 for one size).
// With every core kept busy by other processes, the kernel's hand-over of pseudo-terminal bytes (the work
// that moves them from the writer's side to the reader's) can be held up for seconds, longer as more
// terminals are in use; a run then slows down, or fails when a pause outlasts the programmer's 1 s watchdog.
// Neither the tool nor the simulator is the cause then: measure on an otherwise idle machine.
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <dirent.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int imageSize = 4096;
constexpr int runsPerSize = 3;
const QByteArray chipType = "AT89C51";

QString toolPath(const char* name) {
    return QCoreApplication::applicationDirPath() + "/../" + name;
}

double cpuMs(const rusage& usage) {
    auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

template <typename T> T median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// This process's environment with XDG_CONFIG_HOME pointing at config, so that the tool reads no settings of
// the user's (an empty folder: 9600 8N1, lock level 0).
std::vector<std::string> environmentWith(const QString& config) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::string_view(*e).rfind("XDG_CONFIG_HOME=", 0) != 0) env.emplace_back(*e);
    env.push_back("XDG_CONFIG_HOME=" + config.toStdString());
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (std::string& s : strings)
        p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

// Starts a program: standard input from stdinFd, standard output to stdoutFd, or both output streams into
// outputFile when given; -1 when it cannot be started. The descriptors given are the child's only copies
// apart from ours (every descriptor made here is close-on-exec).
pid_t spawn(std::vector<std::string> argv, std::vector<std::string> env, int stdinFd, int stdoutFd,
            const QString& outputFile, const QString& errorFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, stdinFd, STDIN_FILENO);
    const std::string output = outputFile.toStdString();
    const std::string errors = errorFile.toStdString();
    if (!output.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    } else {
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv.front().c_str(), &actions, nullptr, pointers(argv).data(),
                                  pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

// Waits for pid to end, at most timeout, then kills it: its wait status (-1 when it had to be killed) and
// resource use. The end is seen through a pidfd as soon as it comes, so the wall time is not rounded up to a
// polling step.
int reap(pid_t pid, std::chrono::milliseconds timeout, rusage& usage) {
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    bool ended = true;
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        int n;
        do {
            n = ::poll(&p, 1, static_cast<int>(timeout.count()));
        } while (n < 0 && errno == EINTR);
        ::close(pidfd);
        ended = n > 0;
    } else {
        const auto end = Clock::now() + timeout;
        int status = 0;
        while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
            if (Clock::now() > end) {
                ended = false;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (ended) return status;
    }
    if (!ended) ::kill(pid, SIGKILL);
    int status = 0;
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    return ended ? status : -1;
}

// A chipwright-sim at 9600 baud, keeping its chips in a state file. It runs until its standard input closes.
class Simulator {
public:
    Simulator(const QString& stateFile, const QString& errorFile, const QString& config) {
        int in[2];
        int out[2];
        if (::pipe2(in, O_CLOEXEC) != 0) return;
        if (::pipe2(out, O_CLOEXEC) != 0) {
            ::close(in[0]);
            ::close(in[1]);
            return;
        }
        pid_ = spawn({toolPath("chipwright-sim").toStdString(), "--baud", "9600", "--state",
                      stateFile.toStdString(), "--exit-on-stdin-close"},
                     environmentWith(config), in[0], out[1], QString(), errorFile);
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        if (pid_ > 0) device = firstLine();
    }
    ~Simulator() { stop(); }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Its device path, or empty when it did not start.
    QString device;

    // Ends it (its standard input closes) and waits for it: the CPU time it used, in ms.
    double stop() {
        if (stdin_ >= 0) ::close(stdin_);
        stdin_ = -1;
        double cpu = 0;
        if (pid_ > 0) {
            rusage usage{};
            reap(pid_, std::chrono::seconds(10), usage);
            cpu = cpuMs(usage);
        }
        pid_ = -1;
        if (stdout_ >= 0) ::close(stdout_);
        stdout_ = -1;
        return cpu;
    }

private:
    QString firstLine() {
        QByteArray line;
        const auto end = Clock::now() + std::chrono::seconds(10);
        while (!line.contains('\n') && Clock::now() < end) {
            pollfd p{stdout_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buffer[256];
            const ssize_t n = ::read(stdout_, buffer, sizeof buffer);
            if (n <= 0) break;
            line.append(buffer, n);
        }
        return line.contains('\n') ? QString::fromLocal8Bit(line.left(line.indexOf('\n'))).trimmed() : QString();
    }

    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
};

// The memory of chipType in a chipwright-sim state file: a header line, a line per chip ("chip I TYPE BYTES
// lock L"), "data", then the chips' images back to back.
std::optional<QByteArray> chipMemory(const QString& stateFile) {
    QFile file(stateFile);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray content = file.readAll();
    qsizetype at = content.indexOf('\n') + 1;
    qsizetype offset = 0;
    std::optional<qsizetype> found;
    qsizetype length = 0;
    for (;;) {
        const qsizetype end = content.indexOf('\n', at);
        if (at <= 0 || end < 0) return std::nullopt;
        const QByteArray line = content.mid(at, end - at);
        at = end + 1;
        if (line == "data") break;
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 6) return std::nullopt;
        const qsizetype bytes = fields[3].toLongLong();
        if (fields[2] == chipType) {
            found = offset;
            length = bytes;
        }
        offset += bytes;
    }
    if (!found || at + *found + length > content.size()) return std::nullopt;
    return content.mid(at + *found, length);
}

struct Run {
    double wallS = 0;
    double cliCpuMs = 0;
    double simCpuMs = 0;
    double portMaxS = 0;
    double peakRssMb = 0;
    int peakFds = 0;
    int peakThreads = 0;
};

// How many entries a /proc folder of the process has (its open descriptors, its threads); 0 once it is gone.
int entriesOf(const std::string& folder) {
    int count = 0;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(d))
            count += e->d_name[0] != '.';
        ::closedir(d);
    }
    return count;
}

// Watches a running process's open descriptors and threads every 20 ms and keeps the highest counts.
class PeakWatch {
public:
    explicit PeakWatch(pid_t pid)
        : thread_([this, base = "/proc/" + std::to_string(pid)] {
              while (!done_) {
                  fds_ = std::max(fds_.load(), entriesOf(base + "/fd"));
                  threads_ = std::max(threads_.load(), entriesOf(base + "/task"));
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          }) {}
    ~PeakWatch() { stop(); }
    void stop() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
    }
    int fds() const { return fds_; }
    int threads() const { return threads_; }

private:
    std::atomic<bool> done_{false};
    std::atomic<int> fds_{0};
    std::atomic<int> threads_{0};
    std::thread thread_;
};

// One Auto on n fresh simulators: the run's figures, or the reason it does not count.
std::optional<Run> gangAuto(int n, const QTemporaryDir& dir, const QString& image, const QByteArray& bytes,
                            QString& failure) {
    const QString config = dir.filePath(QStringLiteral("config"));
    std::vector<std::unique_ptr<Simulator>> sims;
    QStringList devices;
    for (int i = 0; i < n; ++i) {
        QFile::remove(dir.filePath(QStringLiteral("sim%1.state").arg(i)));
        sims.push_back(std::make_unique<Simulator>(dir.filePath(QStringLiteral("sim%1.state").arg(i)),
                                                   dir.filePath(QStringLiteral("sim%1.err").arg(i)), config));
        if (sims.back()->device.isEmpty()) {
            failure = QStringLiteral("chipwright-sim did not start");
            return std::nullopt;
        }
        devices << sims.back()->device;
    }

    const QString output = dir.filePath(QStringLiteral("cli.out"));
    const QString log = dir.filePath(QStringLiteral("run.log"));
    QFile::remove(log);
    std::vector<std::string> argv{toolPath("chipwright-cli").toStdString()};
    for (const QString& device : devices) {
        argv.emplace_back("--port");
        argv.push_back(device.toStdString());
    }
    for (const char* word : {"--chip", chipType.constData(), "--log"})
        argv.emplace_back(word);
    argv.push_back(log.toStdString());
    argv.emplace_back("auto");
    argv.push_back(image.toStdString());
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

    Run run;
    const auto start = Clock::now();
    const pid_t cli = spawn(argv, environmentWith(config), devNull, -1, output,
                            QString());
    rusage usage{};
    PeakWatch peaks(cli);
    const int status = cli > 0 ? reap(cli, std::chrono::minutes(5), usage) : -1;
    run.wallS = std::chrono::duration<double>(Clock::now() - start).count();
    peaks.stop();
    run.peakFds = peaks.fds();
    run.peakThreads = peaks.threads();
    run.peakRssMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    ::close(devNull);
    run.cliCpuMs = cpuMs(usage);
    for (auto& sim : sims)
        run.simCpuMs += sim->stop();

    QFile outputFile(output);
    outputFile.open(QIODevice::ReadOnly);
    const QString text = QString::fromLocal8Bit(outputFile.readAll());
    auto fail = [&](const QString& why) {
        failure = why;
        std::fprintf(stderr, "--- chipwright-cli output (%d programmers) ---\n%s---\n", n, qPrintable(text));
        return std::nullopt;
    };
    if (cli <= 0) return fail(QStringLiteral("chipwright-cli did not start"));
    if (status != 0)
        return fail(status < 0 ? QStringLiteral("chipwright-cli hung and was killed")
                               : QStringLiteral("chipwright-cli ended with status %1").arg(status));

    // The summary table: a row per port that passed ("pts/3   passed  11.5 s").
    if (n > 1)
        for (const QString& device : devices) {
            const QString label = device.mid(QStringLiteral("/dev/").size());
            bool passed = false;
            for (const QString& line : text.split(QLatin1Char('\n')))
                passed = passed || line.simplified().startsWith(label + QStringLiteral(" passed "));
            if (!passed) return fail(QStringLiteral("the summary has no passed row for ") + label);
        }

    QFile logFile(log);
    if (!logFile.open(QIODevice::ReadOnly)) return fail(QStringLiteral("no log written"));
    QStringList logged;
    for (const QByteArray& line : logFile.readAll().split('\n')) {
        if (line.isEmpty()) continue;
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        if (record.value(QStringLiteral("result")).toString() != QLatin1String("passed"))
            return fail(QStringLiteral("the log has a run that did not pass: ") + QString::fromUtf8(line));
        logged << record.value(QStringLiteral("port")).toString();
        run.portMaxS = std::max(run.portMaxS, record.value(QStringLiteral("duration")).toDouble());
    }
    logged.sort();
    devices.sort();
    if (logged != devices) return fail(QStringLiteral("the log names the ports ") + logged.join(u' '));

    for (int i = 0; i < n; ++i) {
        const std::optional<QByteArray> memory = chipMemory(dir.filePath(QStringLiteral("sim%1.state").arg(i)));
        if (!memory || !memory->startsWith(bytes))
            return fail(QStringLiteral("the chip behind %1 does not hold the image").arg(devices[i]));
    }
    return run;
}

// The one-programmer median wall time, once that size has run.
std::optional<double>& oneProgrammerS() {
    static std::optional<double> seconds;
    return seconds;
}

void BM_GangAuto4K(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("image.bin"));
    QByteArray bytes(imageSize, '\0');
    QRandomGenerator rng(13);
    for (char& b : bytes)
        b = static_cast<char>(rng.bounded(256));
    QFile file(image);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != imageSize) {
        state.SkipWithError("the image cannot be written");
        return;
    }
    file.close();

    for (auto _ : state) {
        std::vector<Run> runs;
        for (int r = 0; r < runsPerSize; ++r) {
            QString failure;
            const std::optional<Run> run = gangAuto(n, dir, image, bytes, failure);
            if (!run) {
                state.SkipWithError(failure.toStdString().c_str());
                return;
            }
            runs.push_back(*run);
        }
        auto each = [&](auto member) {
            std::vector<double> values;
            for (const Run& run : runs)
                values.push_back(member(run));
            return median(values);
        };
        const double wall = each([](const Run& r) { return r.wallS; });
        state.SetIterationTime(wall);
        state.counters["cpu_ms_per_programmer"] = each([](const Run& r) { return r.cliCpuMs; }) / n;
        state.counters["sim_cpu_ms_per_programmer"] = each([](const Run& r) { return r.simCpuMs; }) / n;
        state.counters["port_s_max"] = each([](const Run& r) { return r.portMaxS; });
        state.counters["peak_rss_mb"] = each([](const Run& r) { return r.peakRssMb; });
        state.counters["peak_fds"] = each([](const Run& r) { return double(r.peakFds); });
        state.counters["peak_threads"] = each([](const Run& r) { return double(r.peakThreads); });
        state.counters["outside_ports_ms"] = 1000 * each([](const Run& r) { return r.wallS - r.portMaxS; });
        state.counters["spread_pct"] =
            100.0 *
            (std::max_element(runs.begin(), runs.end(), [](auto& a, auto& b) { return a.wallS < b.wallS; })->wallS -
             std::min_element(runs.begin(), runs.end(), [](auto& a, auto& b) { return a.wallS < b.wallS; })->wallS) /
            wall;
        if (n == 1) oneProgrammerS() = wall;
        if (oneProgrammerS()) {
            const double ratio = wall / *oneProgrammerS();
            state.counters["vs_one"] = ratio;
            const bool within = ratio <= 1.05;
            std::string label = within ? "within 5 % of one programmer" : "MORE than 5 % over one programmer";
            if (n == 8 || n == 32) label += within ? ": the goal holds" : ": the goal is MISSED";
            state.SetLabel(label);
        } else {
            state.SetLabel("no one-programmer time to compare with (run programmers:1 too)");
        }
    }
}
BENCHMARK(BM_GangAuto4K)
    ->ArgName("programmers")
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->Arg(16)
    ->Arg(32)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace
