#include "service/projector_node.h"

#include "headless/projector_line.h"
#include "link/port_map.h"
#include "protocol/status_queries.h"

#include <algorithm>

namespace orvik {
namespace {

using namespace std::chrono_literals;

constexpr Millis kReopenEvery = 1000ms; // as a lost device is tried again
// A port given back is opened this much later: the borrower may be taking
// it again at once (the panel closes and opens its port as it starts).
constexpr Millis kGivenBackAfter = 500ms;

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
    , clock_(clock)
    , line_(std::make_unique<PortLine>(std::move(port), settings, clock, timing.replyTimeout,
                                       QStringLiteral("the ports file")))
{
    pollAlarm_ = clock.makeAlarm([this] { poll(false); });
    lampAlarm_ = clock.makeAlarm([this] { poll(true); });
    reopenAlarm_ = clock.makeAlarm([this] {
        reopenAlarm_->stop();
        line_->open();
    });
    followAlarm_ = clock.makeAlarm([this] {
        followAlarm_->stop();
        if (!line_->usable())
            return follow({});
        queuePoll({polls().status}, false);
        next();
    });
    connect(line_.get(), &ProjectorLine::refused, this, [this](const QString& text) {
        if (!lentTo_.isEmpty())
            return;
        if (text != lastProblem_)
            emit problem(lastProblem_ = text);
        setOnline(false);
        if (!namesPtyByNumber(this->port().device))
            reopenAlarm_->start(kReopenEvery);
    });
    connect(line_.get(), &ProjectorLine::opened, this, [this] {
        // Said once, as a loss is, where it had been refused.
        if (!std::exchange(lastProblem_, {}).isEmpty())
            emit recovered(QStringLiteral("%1 (%2): open").arg(this->port().name, this->port().device));
        misses_ = 0;
        poll(false);
        poll(true);
    });
    connect(line_.get(), &ProjectorLine::lost, this, [this](const QString& text) {
        emit problem(text);
        setOnline(false);
    });
    connect(line_.get(), &ProjectorLine::back, this, [this](const QString& text) {
        emit recovered(text);
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

void ProjectorNode::lend(const QString& to, std::function<void()> closed)
{
    lentTo_ = QStringLiteral("lent to %1").arg(to);
    whenClosed_ = std::move(closed);
    reopenAlarm_->stop();
    followAlarm_->stop();
    followingSince_.reset();
    setOnline(false);
    setState(QStringLiteral("availability_reason"), lentTo_);
    if (!line_->busy())
        closeIfLent();
}

void ProjectorNode::closeIfLent()
{
    if (lentTo_.isEmpty() || !whenClosed_)
        return;
    line_->close();
    std::exchange(whenClosed_, {})();
    next(); // what waits is answered "lent to ..."
}

void ProjectorNode::takeBack()
{
    if (lentTo_.isEmpty())
        return;
    lentTo_.clear();
    setState(QStringLiteral("availability_reason"), QString());
    if (std::exchange(whenClosed_, {}))
        return next(); // given back before the exchange in progress ended: never closed
    reopenAlarm_->start(kGivenBackAfter);
}

void ProjectorNode::command(const Command& command, Done done)
{
    if (commands_.size() >= kMaxWaiting) {
        Outcome dropped;
        dropped.error = QStringLiteral("dropped: more than %1 commands were waiting").arg(kMaxWaiting);
        const Pending oldest = commands_.front();
        commands_.pop_front();
        emit commandDone(oldest.command, dropped);
        if (oldest.done)
            oldest.done(dropped);
    }
    commands_.push_back({command, true, std::move(done), {}});
    next();
}

void ProjectorNode::poll(bool lamp)
{
    if (!line_->usable())
        return;
    if (lamp) {
        queuePoll({polls().lampTime}, false);
    } else {
        queuePoll({polls().status}, false);
        queuePoll({polls().mode}, false);
        queuePoll({polls().setting}, false);
    }
    next();
}

void ProjectorNode::queuePoll(Pending poll, bool first)
{
    const auto waiting = std::find_if(polls_.begin(), polls_.end(),
                                      [&](const Pending& p) { return p.command.frame == poll.command.frame; });
    if (waiting != polls_.end()) {
        if (!first)
            return;
        if (waiting->done) {
            // An earlier command waits on this poll too: it is told with
            // this one, once the state is asked after both.
            if (!poll.done)
                poll.told = waiting->told;
            poll.done = [earlier = std::move(waiting->done), earlierTold = *waiting->told,
                         later = std::move(poll.done)](const Outcome& outcome) {
                earlier(earlierTold);
                if (later)
                    later(outcome);
            };
        }
        polls_.erase(waiting);
    }
    first ? polls_.push_front(std::move(poll)) : polls_.push_back(std::move(poll));
}

void ProjectorNode::next()
{
    if (line_->busy())
        return;
    if (!commands_.empty()) {
        running_ = commands_.front();
        commands_.pop_front();
    } else if (!polls_.empty()) {
        running_ = std::move(polls_.front());
        polls_.pop_front();
    } else {
        return;
    }
    if (!line_->usable() || !lentTo_.isEmpty()) {
        const Outcome failed = portFailure(lentTo_.isEmpty() ? line_->unusable() : lentTo_);
        const Pending done = *running_;
        running_.reset();
        if (done.fromOutside)
            emit commandDone(done.command, failed);
        if (done.done)
            done.done(done.told.value_or(failed));
        next();
        return;
    }
    line_->run(running_->command);
}

void ProjectorNode::onOutcome(const Outcome& outcome)
{
    const Pending done = *running_;
    running_.reset();
    const auto state = reportedState(done.command, outcome);
    if (state)
        setState(state->name, state->value);
    if (done.command.frame == polls().status.frame && !done.fromOutside)
        follow(state && state->name == u"power" ? state->value : QString());
    if (!outcome.portFailed) {
        if (outcome.reply.isEmpty()) {
            if (!done.fromOutside && ++misses_ >= kMissesOffline)
                setOnline(false);
        } else {
            misses_ = 0;
            setOnline(true);
        }
    }
    if (done.told) {
        done.done(*done.told);
    } else if (done.fromOutside) {
        emit commandDone(done.command, outcome);
        afterCommand(done, outcome);
    } else {
        emit polled(done.command, outcome);
    }
    if (whenClosed_)
        return closeIfLent();
    next();
}

void ProjectorNode::afterCommand(const Pending& done, const Outcome& outcome)
{
    const QString& frame = done.command.frame;
    const auto is = [&frame](std::string_view code) { return frame == commandFrame(code); };
    // What a power or input command changed is asked at once, and whoever
    // gave it is told when the answer is in.
    const Command* ask = nullptr;
    if (outcome.ok && (is(codes::kPowerOn) || is(codes::kPowerOff)))
        ask = &polls().status;
    else if (outcome.ok && (is(codes::kInputPc) || is(codes::kInputVideo)))
        ask = &polls().mode;
    if (ask == &polls().status)
        startFollowing();
    if (ask) {
        queuePoll(done.done ? Pending{*ask, false, done.done, outcome} : Pending{*ask}, true);
        return;
    }
    // Mutes cannot be asked: what was last acknowledged is what is known.
    const auto on = [](bool yes) { return yes ? QStringLiteral("on") : QStringLiteral("off"); };
    if (outcome.ok && (is(codes::kVideoMuteOn) || is(codes::kVideoMuteOff)))
        setState(QStringLiteral("video_mute"), on(is(codes::kVideoMuteOn)));
    else if (outcome.ok && (is(codes::kAudioMuteOn) || is(codes::kAudioMuteOff)))
        setState(QStringLiteral("audio_mute"), on(is(codes::kAudioMuteOn)));
    if (done.done)
        done.done(outcome);
}

void ProjectorNode::startFollowing()
{
    if (!followingSince_)
        followingSince_ = clock_.now();
    lastPower_.clear(); // the answer before the set does not count
}

void ProjectorNode::follow(const QString& power)
{
    const bool changing = power == u"count_down" || power == u"cooling_down";
    if (changing)
        startFollowing();
    if (!followingSince_)
        return;
    // Settled: the same state twice in a row, and not on its way elsewhere.
    const bool settled = !changing && !power.isEmpty() && power == lastPower_;
    lastPower_ = power;
    if (settled || clock_.now() - *followingSince_ >= timing_.followAtMost) {
        followingSince_.reset();
        lastPower_.clear();
        return;
    }
    followAlarm_->start(timing_.follow); // a second after the answer: never more than one a second
}

void ProjectorNode::setOnline(bool online)
{
    if (online && !lentTo_.isEmpty()) // the last reply before the port was lent
        return;
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
