#pragma once

#include <QString>

namespace platform {

// An advisory lock on the whole file open on fd, owned by that open file rather than by the process, so that
// threads of one process wait for each other as processes do; on a network share with locking, stations on
// other machines wait too. Waits for it (exclusive: for writing). Returns 0 or the errno.
int lockWholeFile(int fd, bool exclusive);
// Lets it go.
void unlockWholeFile(int fd);

// An exclusive lock on a lock file, held from construction (which waits for it, at most timeoutMs) until the
// object goes. The file is created when missing, readable and writable by the user alone.
class HeldFileLock {
public:
    HeldFileLock(const QString& path, int timeoutMs);
    ~HeldFileLock();
    HeldFileLock(const HeldFileLock&) = delete;
    HeldFileLock& operator=(const HeldFileLock&) = delete;

    // Empty when the lock is held, else why not.
    const QString& error() const { return error_; }

private:
    int fd_ = -1;
    QString error_;
};

} // namespace platform
