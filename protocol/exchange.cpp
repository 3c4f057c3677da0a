#include "protocol/exchange.h"

#include "core/logging.h"
#include "link/serial_device.h"
#include "protocol/traffic_rendering.h"

#include <algorithm>

namespace orvik {
namespace {

constexpr char kAck = 6;

QString shown(const QByteArray& bytes) { return renderTraffic(QString::fromLatin1(bytes)).trimmed(); }

void dropUnasked(const QByteArray& bytes)
{
    if (!bytes.isEmpty())
        qCDebug(lcExchange).noquote() << "dropped, asked by nobody:" << shown(bytes);
}

} // namespace

Exchange::Exchange(SerialDevice& device, Clock& clock, Millis replyTimeout, QObject* parent)
    : QObject(parent)
    , device_(device)
    , clock_(clock)
    , replyTimeout_(replyTimeout)
{
    timeout_ = clock.makeAlarm([this] { onTimeout(); });
    nextStep_ = clock.makeAlarm([this] { sendStep(); });
    settle_ = clock.makeAlarm([this] { onSettled(); });
    connect(&device_, &SerialDevice::received, this, &Exchange::onReceived);
    connect(&device_, &SerialDevice::lost, this, [this](const QString& reason) {
        lost_ = reason;
        if (running_ && !writing_)
            abandon();
    });
    const auto fresh = [this] {
        lost_.clear();
        fresh_ = true;
    };
    connect(&device_, &SerialDevice::back, this, fresh);
    connect(&device_, &SerialDevice::opened, this, fresh);
}

Exchange::~Exchange() = default;

void Exchange::run(const Command& command)
{
    command_ = command;
    steps_ = std::max(command.steps, 1);
    sent_ = 0;
    sending_ = true;
    running_ = true;
    waiting_.clear();
    reply_.clear();
    failure_.reset();
    lastAnswer_.reset();
    missed_ = false;
    startedAt_ = clock_.now();
    sendStep();
    if (running_ && sending_)
        nextStep_->start(command_.period);
}

void Exchange::sendStep()
{
    if (!sending_)
        return;
    if (waiting_.empty()) {
        dropUnasked(device_.readAll());
        // What the driver held at opening was never seen by the event loop;
        // later, unasked bytes reach the buffer above as they come.
        if (fresh_)
            device_.discardInput();
        fresh_ = false;
    }
    const int number = sent_ + 1;
    writing_ = true; // a device found lost in the write says so before it returns
    const bool written = device_.write(command_.frame.toLatin1());
    writing_ = false;
    if (!written && !lost_.isEmpty())
        return abandon();
    if (!written) {
        sending_ = false;
        nextStep_->stop();
        if (!failure_)
            failure_ = portFailure(device_.isOpen() ? QStringLiteral("not sent: the line takes no more bytes")
                                                    : QStringLiteral("not sent: the port is closed"));
        finishWhenDone(); // after the replies of the steps already sent
        return;
    }
    ++sent_;
    waiting_.push_back({number, clock_.now()});
    qCDebug(lcExchange).noquote() << "sent" << QStringView(command_.frame).trimmed()
                                  << (steps_ > 1 ? QStringLiteral("(step %1 of %2)").arg(number).arg(steps_)
                                                 : QString());
    if (sent_ == steps_) {
        sending_ = false;
        nextStep_->stop();
    }
    if (waiting_.size() == 1)
        armTimeout();
}

void Exchange::onReceived()
{
    const QByteArray bytes = device_.readAll();
    if (!running_ || waiting_.empty()) {
        dropUnasked(bytes);
        if (running_ && !sending_ && !bytes.isEmpty()) // a late reply: the line is not quiet yet
            settle_->start(std::min(replyTimeout_, std::max(settleUntil_ - clock_.now(), Millis::zero())));
        return;
    }
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (waiting_.empty()) {
            dropUnasked(bytes.mid(i));
            break;
        }
        if (reply_.size() < kMaxReply)
            reply_ += bytes[i];
        // A reply ends at a CR, or is a lone ACK.
        if (bytes[i] == '\r' || reply_ == QByteArray(1, kAck)) {
            QByteArray reply;
            reply.swap(reply_);
            answer(reply);
        }
    }
    if (running_)
        finishWhenDone();
}

void Exchange::onTimeout()
{
    timeout_->stop();
    const Millis now = clock_.now();
    // Every step whose time-out has passed: a reply begun but not ended is
    // read as it stands; after it, the step has nothing.
    while (!waiting_.empty() && waiting_.front().sentAt + replyTimeout_ <= now) {
        QByteArray partial;
        partial.swap(reply_);
        answer(partial);
    }
    if (running_)
        finishWhenDone();
}

void Exchange::answer(const QByteArray& reply)
{
    const Step step = waiting_.front();
    waiting_.pop_front();
    const Millis took = clock_.now() - step.sentAt;
    Outcome outcome = readReply(command_, reply);
    outcome.replyMs = took.count();
    if (reply.isEmpty()) {
        missed_ = true;
        if (steps_ > 1)
            outcome.error = QStringLiteral("no reply to step %1 of %2").arg(step.number).arg(steps_);
    }
    qCDebug(lcExchange).noquote() << (reply.isEmpty() ? QStringLiteral("no reply") : QStringLiteral("reply"))
                                  << shown(reply) << QStringLiteral("after %1 ms").arg(took.count());
    if (!outcome.ok && !failure_)
        failure_ = outcome;
    else if (outcome.ok)
        lastAnswer_ = outcome;
    armTimeout();
}

void Exchange::armTimeout()
{
    if (waiting_.empty()) {
        timeout_->stop();
        return;
    }
    timeout_->start(std::max(waiting_.front().sentAt + replyTimeout_ - clock_.now(), Millis::zero()));
}

void Exchange::abandon()
{
    // Nothing more can come: the steps still waiting, and those not sent,
    // fail with the port.
    failure_ = portFailure(portLostText(lost_));
    waiting_.clear();
    sending_ = false;
    finishWhenDone();
}

void Exchange::finishWhenDone()
{
    if (sending_ || !waiting_.empty())
        return;
    if (missed_ && !lost_.isEmpty())
        missed_ = false; // nothing more can come from a lost port
    if (missed_) {
        // Wait for a quiet line: one time-out without a byte, four at most
        // on a line that keeps talking.
        settleUntil_ = clock_.now() + 4 * replyTimeout_;
        settle_->start(replyTimeout_);
        return;
    }
    onSettled();
}

void Exchange::onSettled()
{
    settle_->stop();
    finish(failure_ ? *failure_ : lastAnswer_.value_or(readReply(command_, {})));
}

void Exchange::finish(Outcome outcome)
{
    timeout_->stop();
    nextStep_->stop();
    settle_->stop();
    waiting_.clear();
    reply_.clear();
    sending_ = false;
    running_ = false;
    outcome.ms = (clock_.now() - startedAt_).count();
    emit finished(outcome);
}

} // namespace orvik
