#pragma once

#include <QByteArray>
#include <QList>

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

private:
    QByteArray answer(const QByteArray& code);

    QByteArray pending_;
    bool powerOn_ = true;
    int input_ = 1; // 1 computer, 3 video
    int hours_ = 1234;
};

} // namespace orvik::sim
