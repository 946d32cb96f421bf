#pragma once

namespace platform {

// An advisory lock on the whole file open on fd, owned by that open file rather than by the process, so that
// threads of one process wait for each other as processes do; on a network share with locking, stations on
// other machines wait too. Waits for it (exclusive: for writing). Returns 0 or the errno.
int lockWholeFile(int fd, bool exclusive);
// Lets it go.
void unlockWholeFile(int fd);

} // namespace platform
