#pragma once

#include "core/clock.h"

#include <cstdint>
#include <vector>

namespace orvik::test {

// A clock that moves only when the test says so. advance() fires every
// alarm that falls due on the way, in deadline order, each handler running
// to completion before the next, as the event loop would. stall() holds the
// event loop up: alarms falling due in it fire late, once, at its end.
class ManualClock final : public Clock {
public:
    ~ManualClock() override;
    std::unique_ptr<Alarm> makeAlarm(std::function<void()> onFire) override;

    Millis now() const override { return now_; }
    void advance(Millis by);
    void stall(Millis by);

private:
    class ManualAlarm;
    friend class ManualAlarm;

    Millis now_{0};
    std::uint64_t sequence_ = 0;
    std::vector<ManualAlarm*> alarms_;
};

} // namespace orvik::test
