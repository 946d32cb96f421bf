#include "programmer/intervaltimer.h"

IntervalTimer::IntervalTimer(int intervalMs, bool enabled, std::function<void()> onTimer, QObject* parent)
    : QObject(parent), interval_(intervalMs), onTimer_(std::move(onTimer)) {
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { onTimer_(); });
    setEnabled(enabled);
}

void IntervalTimer::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (enabled)
        timer_.start(interval_);
    else
        timer_.stop();
}

void IntervalTimer::setInterval(int intervalMs) {
    if (intervalMs == interval_) return;
    interval_ = intervalMs;
    if (enabled_) timer_.start(interval_);
}
