#pragma once

#include <QByteArray>

#include <optional>

class QEventLoop;

// The answers to the tool's questions, read line by line from standard input while the event loop runs (so
// that Ctrl+C is still heard): a terminal, a pipe or a file.
class LineWait {
public:
    // The next line without its line break; nothing at the end of the input, on a read error, or once stop()
    // was called. A last line without a line break still counts.
    std::optional<QByteArray> next();
    // Ends the wait under way, and every later one.
    void stop();
    // On a terminal, forgets what was typed and not yet taken as an answer (keys pressed while the tool was
    // busy). A pipe or a file keeps its lines: they were written as answers.
    void discardTyped();

private:
    QByteArray pending_;
    bool ended_ = false;
    bool stopped_ = false;
    QEventLoop* loop_ = nullptr;
};
