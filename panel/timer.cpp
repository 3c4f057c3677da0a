#include "panel/timer.h"

namespace orvik {

Timer::Timer(Clock& clock, Millis interval, QObject* parent)
    : QObject(parent)
    , alarm_(clock.makeAlarm([this] { fire(); }))
    , interval_(interval)
{
}

void Timer::setEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    if (enabled_)
        restart();
    else
        alarm_->stop();
}

void Timer::setInterval(Millis interval)
{
    interval_ = interval;
    if (enabled_)
        restart();
}

void Timer::restart()
{
    if (interval_ > Millis::zero())
        alarm_->start(interval_);
    else
        alarm_->stop();
}

void Timer::fire()
{
    // A stop from inside an earlier handler of the same event-loop pass must
    // win over an alarm that was already due.
    if (enabled_)
        emit tick();
}

} // namespace orvik
