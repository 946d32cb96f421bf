#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal for the tests: the port under test opens the slave by its path, the test plays the far
// end on the master.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0; }
    const QString& slavePath() const { return slave_; }

    void send(const QByteArray& bytes);
    // Reads what the slave wrote, waiting up to timeoutMs for at least `want` bytes in total.
    QByteArray receive(int want, int timeoutMs = 5000);
    void closeMaster();
    // Sets the terminal's window size in columns and rows, as a terminal emulator does when its window changes.
    bool setWindowSize(int columns, int rows = 24);

    // The slave's line settings as the kernel holds them (termios requests on the master reach the slave).
    struct LineState {
        unsigned cflag = 0, iflag = 0, ispeed = 0, ospeed = 0;
        unsigned char vstart = 0, vstop = 0, vmin = 0, vtime = 0;
        int dataBits = 0;
        bool parity = false, oddParity = false, markSpace = false, twoStopBits = false, crtscts = false;
        bool ixon = false, ixoff = false, inpck = false, customRate = false;
    };
    LineState lineState() const;

private:
    int master_ = -1;
    QString slave_;
};
