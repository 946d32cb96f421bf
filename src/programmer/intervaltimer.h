#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// A repeating main-thread timer with the semantics the operations rely on: enabling a timer that is already
// enabled, or giving it the interval it already has, does not restart its count; changing the interval of an
// enabled timer does. (QTimer::start restarts in every case, so it is wrapped once here.)
class IntervalTimer : public QObject {
    Q_OBJECT
public:
    IntervalTimer(int intervalMs, bool enabled, std::function<void()> onTimer, QObject* parent = nullptr);

    bool enabled() const { return enabled_; }
    int interval() const { return interval_; }
    void setEnabled(bool enabled);
    void setInterval(int intervalMs);

private:
    QTimer timer_;
    int interval_;
    bool enabled_ = false;
    std::function<void()> onTimer_;
};
