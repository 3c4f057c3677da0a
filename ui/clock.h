#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace orvik {

using Millis = std::chrono::milliseconds;

// A periodic alarm: once started it fires every period until stopped.
// Starting a running alarm begins a fresh countdown.
class Alarm {
public:
    virtual ~Alarm() = default;
    virtual void start(Millis period) = 0;
    virtual void stop() = 0;
};

// Where timers get their alarms from. The program runs on the system clock;
// tests drive a clock of their own by hand.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::unique_ptr<Alarm> makeAlarm(std::function<void()> onFire) = 0;
};

// Alarms on the event loop. They keep their phase: each deadline is the
// previous one plus the period, so a 5 ms repeat neither drifts nor bunches
// up after a late tick.
class SystemClock final : public Clock {
public:
    std::unique_ptr<Alarm> makeAlarm(std::function<void()> onFire) override;
};

} // namespace orvik
