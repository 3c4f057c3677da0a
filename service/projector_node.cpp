#include "service/projector_node.h"

#include "headless/projector_line.h"
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
    , timing_(timing)
    , line_(std::make_unique<ProjectorLine>(std::move(port), settings, clock, timing.replyTimeout,
                                            QStringLiteral("the ports file")))
{
    pollAlarm_ = clock.makeAlarm([this] { poll(false); });
    lampAlarm_ = clock.makeAlarm([this] { poll(true); });
    reopenAlarm_ = clock.makeAlarm([this] {
        reopenAlarm_->stop();
        line_->open();
    });
    connect(line_.get(), &ProjectorLine::refused, this, [this](const QString& text) {
        if (text != lastProblem_)
            emit problem(lastProblem_ = text);
        setOnline(false);
        reopenAlarm_->start(kReopenEvery);
    });
    connect(line_.get(), &ProjectorLine::opened, this, [this] {
        lastProblem_.clear();
        misses_ = 0;
        poll(false);
        poll(true);
    });
    connect(line_.get(), &ProjectorLine::lost, this, [this](const QString& text) {
        emit problem(text);
        setOnline(false);
    });
    connect(line_.get(), &ProjectorLine::back, this, [this](const QString& text) {
        emit problem(text);
        misses_ = 0;
        poll(false);
    });
    connect(line_.get(), &ProjectorLine::finished, this, &ProjectorNode::onOutcome);
}

ProjectorNode::~ProjectorNode() = default;

const NamedPort& ProjectorNode::port() const { return line_->port(); }

void ProjectorNode::start()
{
    setOnline(false); // until the first answer
    pollAlarm_->start(timing_.poll);
    lampAlarm_->start(timing_.lampPoll);
    line_->open();
}

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
    if (!line_->usable())
        return;
    if (lamp) {
        queuePoll(polls().lampTime, false);
    } else {
        queuePoll(polls().status, false);
        queuePoll(polls().mode, false);
        queuePoll(polls().setting, false);
    }
    next();
}

void ProjectorNode::queuePoll(const Command& command, bool first)
{
    const auto waiting =
        std::find_if(polls_.begin(), polls_.end(), [&](const Command& c) { return c.frame == command.frame; });
    if (waiting != polls_.end()) {
        if (!first)
            return;
        polls_.erase(waiting);
    }
    first ? polls_.push_front(command) : polls_.push_back(command);
}

void ProjectorNode::next()
{
    if (line_->busy())
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
    if (!line_->usable()) {
        const Outcome failed = portFailure(line_->unusable());
        const Pending done = *running_;
        running_.reset();
        if (done.fromOutside)
            emit commandDone(done.command, failed);
        next();
        return;
    }
    line_->run(running_->command);
}

void ProjectorNode::onOutcome(const Outcome& outcome)
{
    const Pending done = *running_;
    running_.reset();
    if (const auto state = reportedState(done.command, outcome))
        setState(state->name, state->value);
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
            queuePoll(polls().status, true);
        else if (outcome.ok && (frame == commandFrame(codes::kInputPc) || frame == commandFrame(codes::kInputVideo)))
            queuePoll(polls().mode, true);
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
