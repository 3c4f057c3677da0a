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
    // Time on this clock, from an origin of its own.
    virtual Millis now() const = 0;
};

// The next deadline of an alarm due at `due` that fired at `firedAt`. On time
// (within a millisecond, the event loop's own grain) it keeps the phase, so a
// 5 ms repeat does not drift. A later tick is not made up by an early one: the
// next comes a full period after it, so no two ticks come more than a
// millisecond closer together than the period, and a stall of several periods
// gives one tick, not a burst.
inline constexpr Millis kOnTimeWithin{1};

template <class Time> Time nextDeadline(Time due, Time firedAt, Millis period)
{
    return (firedAt - due > kOnTimeWithin ? firedAt : due) + period;
}

// Alarms on the event loop, following nextDeadline(). On Linux each alarm
// is a kernel timer armed with an absolute deadline (timerfd), elsewhere (and
// on Linux built with ORVIK_QTIMER_CLOCK, so that it is tested) a precise
// QTimer. Every tick comes from the event loop like any other event,
// so input that arrived before a deadline is handled before its tick.
class SystemClock final : public Clock {
public:
    std::unique_ptr<Alarm> makeAlarm(std::function<void()> onFire) override;
    Millis now() const override;
};

// Alarms on precise QTimers, following nextDeadline(): no descriptor each,
// for programs that keep hundreds of alarms and time to the millisecond.
class TimerClock final : public Clock {
public:
    std::unique_ptr<Alarm> makeAlarm(std::function<void()> onFire) override;
    Millis now() const override;
};

} // namespace orvik
