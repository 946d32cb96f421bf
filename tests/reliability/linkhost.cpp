#include "linkhost.h"

#include "programmer/chipcatalogue.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <exception>

LinkHost::LinkHost() {
    port.OnRxChar = [this](TCustomComPort*, int n) {
        received += n;
        lastActivity_.restart();
        seq.ComPortRxChar(n);
    };
    QObject::connect(&seq, &Sequencer::operationEnded, [this](bool ok) {
        ends.push_back(ok);
        lastActivity_.restart();
    });
    lastActivity_.start();
}

LinkHost::~LinkHost() {
    try {
        port.Disconnect();
    } catch (...) {
    }
}

bool LinkHost::open(const QString& device) {
    try {
        if (port.Connected()) port.Disconnect();
        port.SetPort(device);
        port.Connect();
        return true;
    } catch (const std::exception& e) {
        raised << QString::fromLocal8Bit(e.what());
        return false;
    }
}

void LinkHost::load(int chip, const QByteArray& image) {
    session.confirmChip(chip);
    CodeBuffer& b = session.buffer();
    b.recreate(b.capacity());
    for (int a = 0; a < image.size(); ++a)
        b.store(a, static_cast<quint8>(image[a]));
    b.setDataEnd(static_cast<int>(image.size()) - 1);
}

bool LinkHost::busy() const {
    return seq.readMode() || seq.verifyMode() || const_cast<Sequencer&>(seq).Timer1().enabled() ||
           const_cast<Sequencer&>(seq).DOGTimer4().enabled();
}

void LinkHost::serve(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool LinkHost::run(const std::function<void(Sequencer&)>& start, int quietMs, int deadlineMs) {
    try {
        start(seq);
    } catch (const std::exception& e) {
        raised << QString::fromLocal8Bit(e.what());
    }
    lastActivity_.restart();
    QElapsedTimer deadline;
    deadline.start();
    QEventLoop loop;
    QTimer tick;
    // A check every few milliseconds; the loop sleeps in between, so bytes are handled as they come.
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        // A reply that no watchdog covers (the Lock's) is given the time the command-line tool gives it: on a
        // loaded machine it may well take longer than quietMs.
        const int quiet = seq.replyAwaited() && !seq.DOGTimer4().enabled() ? std::max(quietMs, 3000) : quietMs;
        if ((!busy() && lastActivity_.elapsed() >= quiet) || deadline.elapsed() >= deadlineMs) loop.quit();
    });
    tick.start(5);
    loop.exec();
    return deadline.elapsed() < deadlineMs;
}
