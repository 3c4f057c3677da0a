#pragma once

#include <QByteArray>
#include <QList>

#include <chrono>

namespace orvik::sim {

// What the simulated projector knows and how it answers. Frames are a code
// and a carriage return. Status queries get their reply and a carriage
// return; operation codes ("C" and two hex digits) change the state where
// they mean something and are acknowledged with ACK; anything else gets no
// answer.
class ProjectorModel {
public:
    static constexpr char kAck = 6;

    // Feeds bytes from the line; returns one reply for each complete frame
    // that is answered.
    QList<QByteArray> feed(const QByteArray& bytes);

    void setHours(int hours) { hours_ = hours; }
    // After power-on from stand-by STATUS answers "40" (count down) for the
    // warm-up, after power-off "20" (cooling down) for the cool-down.
    void setWarmUp(std::chrono::milliseconds warmUp) { warmUp_ = warmUp; }
    void setCoolDown(std::chrono::milliseconds coolDown) { coolDown_ = coolDown; }

private:
    using Steady = std::chrono::steady_clock;

    QByteArray answer(const QByteArray& code);
    QByteArray powerReply() const;

    QByteArray pending_;
    bool powerOn_ = true;
    Steady::time_point switched_; // when power last changed
    std::chrono::milliseconds warmUp_{0};
    std::chrono::milliseconds coolDown_{0};
    int input_ = 1; // 1 computer, 3 video
    int hours_ = 1234;
};

} // namespace orvik::sim
