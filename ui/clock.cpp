#include "ui/clock.h"

#include <QTimer>

#include <algorithm>
#include <vector>

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

// Going idle and being woken again is where a virtual machine makes ticks
// late: now and then the wake-up, or the first milliseconds after it, come
// several milliseconds late. So when an alarm of 50 ms or more has fired and
// another falls due within this, the thread stays awake and fires that one
// on the spot. The panel's reply time-out, display clear and repeat come 5
// and 10 ms apart, three wake-ups a period; this makes them two, for up to
// 10 ms of spinning a period while a button is held.
constexpr Millis kStayAwakeFor{12};

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

class QtAlarm;

} // namespace

struct AlarmList {
    std::vector<QtAlarm*> alarms; // every live alarm of one clock
};

namespace {

class QtAlarm final : public Alarm {
public:
    QtAlarm(std::shared_ptr<AlarmList> all, std::function<void()> onFire)
        : all_(std::move(all))
        , onFire_(std::move(onFire))
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { fire(Chain::Allowed); });
        all_->alarms.push_back(this);
    }
    ~QtAlarm() override { std::erase(all_->alarms, this); }

    void start(Millis period) override
    {
        period_ = period;
        deadline_ = Steady::now() + period;
        arm();
    }
    void stop() override { timer_.stop(); }

private:
    enum class Chain { Allowed, No };

    void arm()
    {
        const auto wait = std::chrono::duration_cast<Millis>(deadline_ - Steady::now()) - leadFor(period_);
        timer_.start(std::max(wait, Millis::zero()));
    }

    void fire(Chain chain)
    {
        const Steady::time_point due = deadline_;
        while (Steady::now() < due)
            relax();
        deadline_ = nextDeadline(due, Steady::now(), period_);
        arm(); // before the handler, whose own stop or start wins
        // The handler may destroy this alarm: take what is needed after it.
        const std::shared_ptr<AlarmList> all = all_;
        const bool mayChain = chain == Chain::Allowed && period_ >= kLeadFrom;
        onFire_();
        // One step only, so the event loop gets its turn again at once.
        if (QtAlarm* next = mayChain ? dueSoon(*all) : nullptr) {
            next->timer_.stop();
            next->fire(Chain::No);
        }
    }

    // The running alarm of 50 ms or more due next, if within kStayAwakeFor.
    // The one that just fired is a period of 50 ms or more away.
    static QtAlarm* dueSoon(const AlarmList& all)
    {
        QtAlarm* next = nullptr;
        for (QtAlarm* alarm : all.alarms) {
            if (alarm->timer_.isActive() && alarm->period_ >= kLeadFrom && (!next || alarm->deadline_ < next->deadline_))
                next = alarm;
        }
        return next && next->deadline_ - Steady::now() <= kStayAwakeFor ? next : nullptr;
    }

    std::shared_ptr<AlarmList> all_;
    std::function<void()> onFire_;
    QTimer timer_;
    Millis period_{0};
    Steady::time_point deadline_;
};

} // namespace

SystemClock::SystemClock()
    : alarms_(std::make_shared<AlarmList>())
{
}

SystemClock::~SystemClock() = default;

std::unique_ptr<Alarm> SystemClock::makeAlarm(std::function<void()> onFire)
{
    return std::make_unique<QtAlarm>(alarms_, std::move(onFire));
}

} // namespace orvik
