#pragma once

#include "core/clock.h"

#include <QObject>

namespace orvik {

// The panel's timer control. Its rules:
// - enabling a stopped timer starts a full period; enabling a running one
//   changes nothing, the countdown goes on;
// - disabling stops it at once, and no tick comes afterwards, not even when
//   the disabling handler is the timer's own tick;
// - writing the interval of a running timer starts a fresh countdown of the
//   new length; on a stopped timer it only stores the period.
// An interval of 0 never ticks.
class Timer : public QObject {
    Q_OBJECT
public:
    Timer(Clock& clock, Millis interval, QObject* parent = nullptr);

    void setEnabled(bool enabled);
    bool enabled() const { return enabled_; }
    void setInterval(Millis interval);
    Millis interval() const { return interval_; }

signals:
    void tick();

private:
    void fire();
    void restart();

    std::unique_ptr<Alarm> alarm_;
    Millis interval_;
    bool enabled_ = false;
};

} // namespace orvik
