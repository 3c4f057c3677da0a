#include "ui/clock.h"

#include <QTimer>

namespace orvik {
namespace {

class QtAlarm final : public Alarm {
public:
    explicit QtAlarm(std::function<void()> onFire)
        : onFire_(std::move(onFire))
    {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { onFire_(); });
    }
    void start(Millis period) override { timer_.start(period); }
    void stop() override { timer_.stop(); }

private:
    std::function<void()> onFire_;
    QTimer timer_;
};

} // namespace

std::unique_ptr<Alarm> SystemClock::makeAlarm(std::function<void()> onFire)
{
    return std::make_unique<QtAlarm>(std::move(onFire));
}

} // namespace orvik
