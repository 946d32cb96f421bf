#pragma once

#include <QString>

#include <sys/types.h>

// A private X server (Xvfb) on a display number it picks itself, for tests that run real windows; stopped when
// the object goes. Check ok() before use; error() says why not.
class XvfbServer {
public:
    XvfbServer();
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool ok() const { return !display_.isEmpty(); }
    // ":N", for DISPLAY.
    const QString& display() const { return display_; }
    const QString& error() const { return error_; }

private:
    pid_t pid_ = -1;
    QString display_;
    QString error_;
};
