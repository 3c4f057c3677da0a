#pragma once

#include "core/clock.h"
#include "protocol/command_words.h"
#include "protocol/outcome.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>

#include <memory>

namespace orvik {

class SerialDevice;

// One command at a time on one device: each step sends its frame and
// collects the reply until a CR, a lone ACK or the time-out, whichever comes
// first. Bytes that arrive while no step waits belong to no command and are
// dropped, so a late reply is never taken for the next command's. A hold of
// several steps sends them one repeat period apart.
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
    void sendStep();
    void onReceived();
    void endStep();
    void finish(Outcome outcome);

    SerialDevice& device_;
    Millis replyTimeout_;
    std::unique_ptr<Alarm> timeout_;
    std::unique_ptr<Alarm> nextStep_;
    Command command_;
    int stepsLeft_ = 0;
    bool running_ = false;
    bool collecting_ = false;
    QByteArray reply_;
    std::optional<Outcome> result_; // the first step that failed, else the last
    QElapsedTimer elapsed_;
};

} // namespace orvik
