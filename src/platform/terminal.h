#pragma once

namespace platform {

// Whether the file descriptor is a terminal (the command-line tool draws its progress bar only there).
bool isTerminal(int fd);

// The width of the terminal on fd in columns, or fallback when fd is not a terminal or gives no size.
int terminalColumns(int fd, int fallback);

} // namespace platform
