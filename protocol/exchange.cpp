#include "protocol/exchange.h"

#include "link/serial_device.h"

#include <algorithm>

namespace orvik {

Exchange::Exchange(SerialDevice& device, Clock& clock, Millis replyTimeout, QObject* parent)
    : QObject(parent)
    , device_(device)
    , replyTimeout_(replyTimeout)
{
    timeout_ = clock.makeAlarm([this] { endStep(); });
    nextStep_ = clock.makeAlarm([this] {
        nextStep_->stop();
        sendStep();
    });
    connect(&device_, &SerialDevice::received, this, &Exchange::onReceived);
}

Exchange::~Exchange() = default;

void Exchange::run(const Command& command)
{
    command_ = command;
    stepsLeft_ = std::max(command.steps, 1);
    running_ = true;
    result_.reset();
    elapsed_.start();
    sendStep();
}

void Exchange::sendStep()
{
    device_.readAll(); // what came unasked belongs to no command
    reply_.clear();
    --stepsLeft_;
    if (!device_.write(command_.frame.toLatin1())) {
        finish(portFailure(device_.isOpen() ? QStringLiteral("not sent: the line takes no more bytes")
                                            : QStringLiteral("not sent: the port is closed")));
        return;
    }
    collecting_ = true;
    Millis wait = replyTimeout_;
    if (stepsLeft_ > 0) {
        wait = std::min(wait, command_.period); // each step's reply ends before the next step
        nextStep_->start(command_.period);
    }
    timeout_->start(wait);
}

void Exchange::onReceived()
{
    const QByteArray bytes = device_.readAll();
    if (!collecting_)
        return;
    reply_ += bytes.left(kMaxReply - reply_.size());
    if (reply_.endsWith('\r') || reply_ == QByteArray(1, 6))
        endStep();
}

void Exchange::endStep()
{
    timeout_->stop();
    if (!collecting_)
        return;
    collecting_ = false;
    Outcome outcome = readReply(command_, reply_);
    if (!result_ || result_->ok)
        result_ = std::move(outcome);
    if (stepsLeft_ == 0)
        finish(*result_);
}

void Exchange::finish(Outcome outcome)
{
    timeout_->stop();
    nextStep_->stop();
    collecting_ = false;
    running_ = false;
    outcome.ms = elapsed_.elapsed();
    emit finished(outcome);
}

} // namespace orvik
