#include "tests/support/manual_clock.h"

#include <algorithm>

namespace orvik::test {

class ManualClock::ManualAlarm final : public Alarm {
public:
    ManualAlarm(ManualClock& clock, std::function<void()> onFire)
        : clock_(&clock)
        , onFire_(std::move(onFire))
    {
        clock_->alarms_.push_back(this);
    }
    ~ManualAlarm() override
    {
        if (clock_)
            std::erase(clock_->alarms_, this);
    }
    void start(Millis period) override
    {
        period_ = period;
        deadline_ = clock_->now_ + period;
        order_ = ++clock_->sequence_;
        active_ = true;
    }
    void stop() override { active_ = false; }

    ManualClock* clock_;
    std::function<void()> onFire_;
    Millis period_{0};
    Millis deadline_{0};
    std::uint64_t order_ = 0;
    bool active_ = false;
};

ManualClock::~ManualClock()
{
    for (ManualAlarm* alarm : alarms_)
        alarm->clock_ = nullptr;
}

std::unique_ptr<Alarm> ManualClock::makeAlarm(std::function<void()> onFire)
{
    return std::make_unique<ManualAlarm>(*this, std::move(onFire));
}

void ManualClock::advance(Millis by)
{
    const Millis target = now_ + by;
    for (;;) {
        ManualAlarm* next = nullptr;
        for (ManualAlarm* alarm : alarms_) {
            if (!alarm->active_ || alarm->deadline_ > target)
                continue;
            if (!next || alarm->deadline_ < next->deadline_
                || (alarm->deadline_ == next->deadline_ && alarm->order_ < next->order_))
                next = alarm;
        }
        if (!next)
            break;
        const Millis due = next->deadline_;
        now_ = std::max(now_, due);
        // As on the system clock; a restart in the handler wins.
        next->deadline_ = nextDeadline(due, now_, next->period_);
        next->order_ = ++sequence_;
        next->onFire_();
    }
    now_ = target;
}

void ManualClock::stall(Millis by)
{
    now_ += by;
    advance(Millis::zero());
}

} // namespace orvik::test
