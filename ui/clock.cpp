#include "ui/clock.h"

#include <QTimer>

#include <algorithm>

namespace orvik {
namespace {

using Steady = std::chrono::steady_clock;

// Event-loop wake-ups can come a millisecond or more late (a virtual
// machine's timer, an idle core waking up). So an alarm of 50 ms or more
// wakes 2 ms early and waits out the rest on the spot, which keeps its
// deadline to a fraction of a millisecond for under 4% of a core. Shorter
// periods get no lead; their wait is still counted in whole milliseconds,
// rounded down, so they too wait out the last fraction of one on the spot
// (most of the CPU a 5 ms hold costs). Rounding up instead made late ticks,
// and so skipped ones, more frequent at 5 ms.
constexpr Millis kLead{2};
constexpr Millis kLeadFrom{50};

Millis leadFor(Millis period) { return period >= kLeadFrom ? kLead : Millis::zero(); }

// The wait for the deadline does not yield the core: a thread that yields
// hands it to whatever else is ready there for that one's whole time slice,
// which came to 1-3 ms past the deadline now and then.
void relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield"); // the CPU hint, not the scheduler's
#endif
}

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
        const auto wait = std::chrono::duration_cast<Millis>(deadline_ - Steady::now()) - leadFor(period_);
        timer_.start(std::max(wait, Millis::zero()));
    }

    void fire()
    {
        const Steady::time_point due = deadline_;
        while (Steady::now() < due)
            relax();
        // Keep the phase; after a stall skip the missed ticks rather than
        // bunch them up.
        deadline_ += period_;
        if (deadline_ <= Steady::now())
            deadline_ = Steady::now() + period_;
        arm(); // before the handler, whose own stop or start wins
        onFire_();
    }

    std::function<void()> onFire_;
    QTimer timer_;
    Millis period_{0};
    Steady::time_point deadline_;
};

} // namespace

std::unique_ptr<Alarm> SystemClock::makeAlarm(std::function<void()> onFire)
{
    return std::make_unique<QtAlarm>(std::move(onFire));
}

} // namespace orvik
