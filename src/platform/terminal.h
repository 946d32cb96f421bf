#pragma once

namespace platform {

// Whether the file descriptor is a terminal (the command-line tool draws its progress bar only there).
bool isTerminal(int fd);

// Whether both file descriptors are the same terminal (standard output and standard error on one screen).
bool sameTerminal(int fd1, int fd2);

// The width of the terminal on fd in columns, or fallback when fd is not a terminal or gives no size.
int terminalColumns(int fd, int fallback);
// Its height in rows, likewise.
int terminalRows(int fd, int fallback);

// Starts counting the window-size changes of the process's terminal (SIGWINCH); calling it again does
// nothing. terminalResizes() is the count so far, safe to read from any thread.
void watchTerminalResizes();
unsigned terminalResizes();

// Throws away what was typed on the terminal fd and not read yet (keys pressed while the program was busy).
// Nothing happens when fd is not a terminal: a pipe or a file is read as it stands.
void discardTypedInput(int fd);

} // namespace platform
