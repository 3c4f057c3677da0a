#pragma once

#include "core/clock.h"
#include "protocol/command_words.h"
#include "protocol/outcome.h"

#include <QByteArray>
#include <QObject>

#include <deque>
#include <memory>
#include <optional>

namespace orvik {

class SerialDevice;

// One command at a time on one device. Each step sends its frame; a reply
// (a lone ACK, or bytes up to a CR) counts for the earliest step still
// waiting within its time-out, and a step whose time-out passes unanswered
// fails the command. A hold of several steps sends them one repeat period
// apart, whether or not the earlier ones were answered yet. The command ends
// only when every step sent is answered or past its time-out; after a step
// went unanswered it also waits until the line has been quiet for a time-out,
// so that a late reply is not taken for the next command's. What arrived
// while no step waits belongs to no command: it is thrown away before the
// next frame goes out.
class Exchange : public QObject {
    Q_OBJECT
public:
    static constexpr Millis kReplyTimeout{500}; // the panel's

    Exchange(SerialDevice& device, Clock& clock, Millis replyTimeout = kReplyTimeout, QObject* parent = nullptr);
    ~Exchange() override;

    // Starts the command; finished() tells its outcome. Not while busy().
    void run(const Command& command);
    bool busy() const { return running_; }

signals:
    void finished(const orvik::Outcome& outcome);

private:
    struct Step {
        int number = 0; // from 1
        Millis sentAt{0};
    };

    void sendStep();
    void onReceived();
    void onTimeout();
    void onSettled();
    // The earliest waiting step got `reply` (empty: none within its time-out).
    void answer(const QByteArray& reply);
    void armTimeout();
    void abandon();
    void finishWhenDone();
    void finish(Outcome outcome);

    SerialDevice& device_;
    Clock& clock_;
    Millis replyTimeout_;
    std::unique_ptr<Alarm> timeout_;
    std::unique_ptr<Alarm> nextStep_;
    std::unique_ptr<Alarm> settle_; // quiet after a step went unanswered
    Command command_;
    int steps_ = 0;
    int sent_ = 0;
    bool sending_ = false; // steps remain to be sent
    bool writing_ = false;
    bool missed_ = false;   // a step went unanswered: its reply may still come
    bool fresh_ = true;     // opened or back: the driver may still hold what came before
    Millis settleUntil_{0}; // the latest the quiet wait may end
    bool running_ = false;
    Millis startedAt_{0};
    std::deque<Step> waiting_;
    QByteArray reply_;                  // of the earliest waiting step, so far
    std::optional<Outcome> failure_;    // the first step that failed
    std::optional<Outcome> lastAnswer_; // the last step answered as expected
    QString lost_;                      // why the device is lost, while it is
};

} // namespace orvik
