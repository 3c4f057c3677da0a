#include "mqtt/projector_node.h"

#include "link/open_failure.h"
#include "link/port_device.h"
#include "protocol/exchange.h"
#include "protocol/status_queries.h"

#include <algorithm>

namespace orvik {
namespace {

using namespace std::chrono_literals;

constexpr Millis kReopenEvery = 1000ms; // as a lost device is tried again

Command word(const char* text) { return std::get<Command>(parseCommand(QString::fromLatin1(text))); }

// The polls, parsed once rather than at every tick.
struct Polls {
    Command status = word("status");
    Command mode = word("mode");
    Command setting = word("setting");
    Command lampTime = word("l-time");
};

const Polls& polls()
{
    static const Polls parsed;
    return parsed;
}

} // namespace

ProjectorNode::ProjectorNode(NamedPort port, LineSettings settings, Timing timing, Clock& clock, QObject* parent)
    : QObject(parent)
    , port_(std::move(port))
    , settings_(settings)
    , timing_(timing)
    , device_(std::make_unique<PortDevice>())
    , exchange_(std::make_unique<Exchange>(*device_, clock, timing.replyTimeout))
{
    pollAlarm_ = clock.makeAlarm([this] { poll(false); });
    lampAlarm_ = clock.makeAlarm([this] { poll(true); });
    reopenAlarm_ = clock.makeAlarm([this] {
        reopenAlarm_->stop();
        open();
    });
    connect(device_.get(), &SerialDevice::opened, this, [this](bool ok, const OpenFailure& why) {
        if (!ok) {
            const QString text =
                describeOpenFailure(port_.name, QStringLiteral("the ports file"), port_.device, why, loginName());
            if (text != lastProblem_)
                emit problem(lastProblem_ = text);
            setOnline(false);
            reopenAlarm_->start(kReopenEvery);
            return;
        }
        lastProblem_.clear();
        open_ = true;
        misses_ = 0;
        poll(false);
        poll(true);
    });
    connect(device_.get(), &SerialDevice::lost, this, [this](const QString& reason) {
        emit problem(QStringLiteral("%1 (%2): lost: %3").arg(port_.name, port_.device, reason));
        setOnline(false);
    });
    connect(device_.get(), &SerialDevice::back, this, [this] {
        emit problem(QStringLiteral("%1 (%2): back").arg(port_.name, port_.device));
        misses_ = 0;
        poll(false);
    });
    connect(exchange_.get(), &Exchange::finished, this, &ProjectorNode::onOutcome);
}

ProjectorNode::~ProjectorNode()
{
    exchange_.reset(); // before the device it talks to
    device_->close();
}

void ProjectorNode::start()
{
    setOnline(false); // until the first answer
    pollAlarm_->start(timing_.poll);
    lampAlarm_->start(timing_.lampPoll);
    open();
}

void ProjectorNode::open() { device_->openLater(port_.device, settings_); }

void ProjectorNode::command(const Command& command)
{
    if (commands_.size() >= kMaxWaiting) {
        Outcome dropped;
        dropped.error = QStringLiteral("dropped: more than %1 commands were waiting").arg(kMaxWaiting);
        const Command oldest = commands_.front().command;
        commands_.pop_front();
        emit commandDone(oldest, dropped);
    }
    commands_.push_back({command, true});
    next();
}

void ProjectorNode::poll(bool lamp)
{
    if (!open_)
        return;
    const auto queue = [this](const Command& command) {
        if (std::none_of(polls_.begin(), polls_.end(), [&](const Command& c) { return c.frame == command.frame; }))
            polls_.push_back(command);
    };
    if (lamp) {
        queue(polls().lampTime);
    } else {
        queue(polls().status);
        queue(polls().mode);
        queue(polls().setting);
    }
    next();
}

void ProjectorNode::next()
{
    if (exchange_->busy())
        return;
    if (!commands_.empty()) {
        running_ = commands_.front();
        commands_.pop_front();
    } else if (!polls_.empty()) {
        running_ = Pending{polls_.front(), false};
        polls_.pop_front();
    } else {
        return;
    }
    if (!open_) {
        const Outcome failed =
            portFailure(lastProblem_.isEmpty() ? QStringLiteral("the port is not open") : lastProblem_);
        const Pending done = *running_;
        running_.reset();
        if (done.fromOutside)
            emit commandDone(done.command, failed);
        next();
        return;
    }
    exchange_->run(running_->command);
}

void ProjectorNode::onOutcome(const Outcome& outcome)
{
    const Pending done = *running_;
    running_.reset();
    if (outcome.ok && done.command.query) {
        if (done.command.query == &queries::kLampTime)
            setState(QStringLiteral("lamp_hours"), QString::number(*outcome.hours));
        else if (done.command.query == &queries::kPower)
            setState(QStringLiteral("power"), outcome.state);
        else if (done.command.query == &queries::kInput)
            setState(QStringLiteral("input"), outcome.state);
        else if (done.command.query == &queries::kReversal)
            setState(QStringLiteral("setting"), outcome.state);
    }
    if (!outcome.portFailed) {
        if (outcome.reply.isEmpty()) {
            if (!done.fromOutside && ++misses_ >= kMissesOffline)
                setOnline(false);
        } else {
            misses_ = 0;
            setOnline(true);
        }
    }
    if (done.fromOutside) {
        emit commandDone(done.command, outcome);
        // What a power or input command changed is asked for at once.
        const QString& frame = done.command.frame;
        if (outcome.ok && (frame == commandFrame(codes::kPowerOn) || frame == commandFrame(codes::kPowerOff)))
            polls_.push_front(polls().status);
        else if (outcome.ok && (frame == commandFrame(codes::kInputPc) || frame == commandFrame(codes::kInputVideo)))
            polls_.push_front(polls().mode);
    }
    next();
}

void ProjectorNode::setOnline(bool online)
{
    setState(QStringLiteral("availability"), online ? QStringLiteral("online") : QStringLiteral("offline"));
}

void ProjectorNode::setState(const QString& name, const QString& value)
{
    auto it = states_.find(name);
    if (it != states_.end() && *it == value)
        return;
    states_.insert(name, value);
    emit stateChanged(name, value);
}

} // namespace orvik
