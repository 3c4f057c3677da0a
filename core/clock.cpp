#include "core/clock.h"

#include <QObject>
#include <QTimer>

#include <algorithm>
#include <optional>

#if defined(Q_OS_LINUX) && !defined(ORVIK_QTIMER_CLOCK)
#include <QSocketNotifier>

#include <cerrno>
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace orvik {
namespace {

using Steady = std::chrono::steady_clock;

#if defined(Q_OS_LINUX) && !defined(ORVIK_QTIMER_CLOCK)

// steady_clock is CLOCK_MONOTONIC on Linux: its deadlines go to the kernel
// as they are, to the nanosecond. The kernel wakes the event loop at the
// deadline; nothing here waits or spins.
class KernelAlarm final : public Alarm {
public:
    explicit KernelAlarm(std::function<void()> onFire)
        : fd_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC))
        , onFire_(std::move(onFire))
    {
        if (fd_ < 0)
            qFatal("timerfd_create: %s", qPrintable(qt_error_string(errno)));
        notifier_.emplace(fd_, QSocketNotifier::Read);
        QObject::connect(&*notifier_, &QSocketNotifier::activated, &*notifier_, [this] { fire(); });
    }
    ~KernelAlarm() override
    {
        notifier_.reset();
        ::close(fd_);
    }

    void start(Millis period) override
    {
        period_ = period;
        deadline_ = Steady::now() + period;
        arm(deadline_);
    }
    void stop() override { arm(Steady::time_point{}); }

private:
    // A zero deadline disarms. Arming again also forgets an expiry that has
    // not been read yet, so a stopped or restarted alarm does not fire late.
    void arm(Steady::time_point deadline)
    {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
        itimerspec expiry{};
        expiry.it_value.tv_sec = time_t(ns / 1'000'000'000);
        expiry.it_value.tv_nsec = long(ns % 1'000'000'000);
        ::timerfd_settime(fd_, TFD_TIMER_ABSTIME, &expiry, nullptr);
    }

    void fire()
    {
        std::uint64_t expiries = 0;
        if (::read(fd_, &expiries, sizeof expiries) != sizeof expiries)
            return; // stopped or restarted since the loop saw it due
        deadline_ = nextDeadline(deadline_, Steady::now(), period_);
        arm(deadline_); // before the handler, whose own stop or start wins
        onFire_();      // may destroy this alarm
    }

    int fd_;
    std::optional<QSocketNotifier> notifier_;
    std::function<void()> onFire_;
    Millis period_{0};
    Steady::time_point deadline_;
};

using SystemAlarm = KernelAlarm;

#endif

// A precise QTimer, rounded up to the millisecond so that a tick never comes
// early: the system clock where there is no timerfd, and the timer clock.
class QtAlarm final : public Alarm {
public:
    explicit QtAlarm(std::function<void()> onFire)
        : onFire_(std::move(onFire))
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { fire(); });
    }

    void start(Millis period) override
    {
        period_ = period;
        deadline_ = Steady::now() + period;
        arm();
    }
    void stop() override { timer_.stop(); }

private:
    void arm()
    {
        const auto wait = std::chrono::ceil<Millis>(deadline_ - Steady::now());
        timer_.start(std::max(wait, Millis::zero()));
    }

    void fire()
    {
        deadline_ = nextDeadline(deadline_, Steady::now(), period_);
        arm();
        onFire_();
    }

    QTimer timer_;
    std::function<void()> onFire_;
    Millis period_{0};
    Steady::time_point deadline_;
};

#if !defined(Q_OS_LINUX) || defined(ORVIK_QTIMER_CLOCK)
using SystemAlarm = QtAlarm;
#endif

} // namespace

std::unique_ptr<Alarm> SystemClock::makeAlarm(std::function<void()> onFire)
{
    return std::make_unique<SystemAlarm>(std::move(onFire));
}

std::unique_ptr<Alarm> TimerClock::makeAlarm(std::function<void()> onFire)
{
    return std::make_unique<QtAlarm>(std::move(onFire));
}

Millis SystemClock::now() const { return std::chrono::duration_cast<Millis>(Steady::now().time_since_epoch()); }

Millis TimerClock::now() const { return std::chrono::duration_cast<Millis>(Steady::now().time_since_epoch()); }

} // namespace orvik
