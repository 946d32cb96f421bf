#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// The simulator's few operating-system calls: the pseudo-terminal, the clock, signals and waiting. Nothing
// else in the simulator touches a descriptor.
namespace sim::os {

struct Pty {
    int master = -1;
    // Our own descriptor of the slave side. While any process holds the slave open, reading the master blocks
    // instead of failing with EIO, so keeping this one open lets the host open and close the device as often
    // as it likes without the simulator seeing an error or spinning.
    int slave = -1;
    QString slavePath;
};

// A new pseudo-terminal with the master non-blocking and the slave in raw mode (no echo, no line editing, no
// character translation), so the bytes arrive untouched even before the host sets its own line settings.
std::optional<Pty> openPty(QString* error);
void closePty(Pty& pty);

// Monotonic microseconds.
std::int64_t nowMicros();

// Routes SIGINT and SIGTERM to a descriptor that becomes readable when one arrives; ignores SIGPIPE.
int watchTerminationSignals();
// Reads pending signals off that descriptor; true when one arrived.
bool takeSignal(int fd);

enum class ReadResult { Data, Nothing, Closed, Failed };
// Reads what is available (up to 4096 bytes) from a non-blocking descriptor.
ReadResult readSome(int fd, QByteArray& into, int* error = nullptr);
// Writes as much of data as the descriptor takes now; returns the count, or -1 on an error other than "full".
std::int64_t writeSome(int fd, const QByteArray& data);

// Deadlines of this process's waits are kept to the microsecond instead of the kernel's default 50 us slack,
// so that a paced line does not run slow by the slack at every byte it times.
void tightenTimerSlack();

struct Wait {
    int fd;
    bool readable;
    bool writable;
};
struct Ready {
    bool readable = false;
    bool writable = false;
    bool hangup = false;
};
// Blocks until one of the descriptors is ready or the deadline (monotonic microseconds) passes; never spins.
// A signal ends the wait early. ready[i] answers waits[i]. Returns false on a poll error.
bool waitFor(const Wait* waits, Ready* ready, int count, std::optional<std::int64_t> deadline);

} // namespace sim::os
