#include "ui/clock.h"

#include <QTimer>

#include <algorithm>
#include <thread>

namespace orvik {
namespace {

using Steady = std::chrono::steady_clock;

// Event-loop wake-ups can come a millisecond or more late (a virtual
// machine's timer, an idle core waking up). So the alarm wakes a little
// early, a tenth of its period but at most 2 ms, and waits out the rest
// on the spot: the deadline is kept to a fraction of a millisecond.
constexpr Millis kMaxLead{2};

Millis leadFor(Millis period) { return std::min(kMaxLead, period / 10); }

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
            std::this_thread::yield();
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
