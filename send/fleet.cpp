#include "send/fleet.h"

#include "headless/projector_line.h"

#include <QElapsedTimer>

namespace orvik {

using namespace std::chrono_literals;

namespace {

// Between two status questions while waiting for a state.
constexpr Millis kUntilEvery = 1000ms;

ExitStatus worse(ExitStatus a, ExitStatus b) { return int(a) >= int(b) ? a : b; }

} // namespace

// One port from opening to closing.
class Fleet::PortRun : public QObject {
public:
    PortRun(std::unique_ptr<ProjectorLine> line, const Plan& plan, Clock& clock, const Results& results, Fleet& fleet)
        : plan_(plan)
        , results_(results)
        , fleet_(fleet)
        , line_(std::move(line))
        , pause_(clock.makeAlarm([this] {
            pause_->stop();
            next();
        }))
    {
        // The first command waits for the loop: every port of a round is
        // opened before any reply time-out starts, since opening blocks
        // (lock files are synced to disk where /run/lock is on one).
        connect(line_.get(), &ProjectorLine::opened, this, &PortRun::next, Qt::QueuedConnection);
        connect(line_.get(), &ProjectorLine::refused, this, [this](const QString& text) { failPort(text, text); });
        connect(line_.get(), &ProjectorLine::lost, this, [this](const QString& text) { lost_ = text; });
        connect(line_.get(), &ProjectorLine::finished, this, &PortRun::onOutcome);
    }

    void start() { line_->open(); }

private:
    const NamedPort& port() const { return line_->port(); }

    void next()
    {
        if (!line_->usable()) // lost between two commands, or while waiting for a state
            return waiting_ ? onUntilOutcome(portFailure(line_->unusable())) : failPort(lost_, line_->unusable());
        if (index_ < plan_.commands.size())
            return line_->run(plan_.commands[index_]);
        if (!plan_.untilState.isEmpty())
            return askUntil();
        finish();
    }

    void onOutcome(const Outcome& outcome)
    {
        if (waiting_)
            return onUntilOutcome(outcome);
        if (outcome.portFailed)
            return failPort(lost_.isEmpty() ? outcome.error : lost_, outcome.error);
        const Command& command = plan_.commands[index_++];
        results_.result(port(), command, outcome);
        status_ = worse(status_, outcome.ok ? ExitStatus::Ok : ExitStatus::Unanswered);
        if (plan_.gap > 0ms && index_ < plan_.commands.size())
            pause_->start(plan_.gap);
        else
            next();
    }

    void askUntil()
    {
        if (!waiting_) {
            waiting_ = true;
            untilClock_.start();
            untilAsk_ = std::get<Command>(parseCommand(QStringLiteral("status")));
            untilCommand_ = untilAsk_;
            untilCommand_.text = QStringLiteral("until:") + plan_.untilState; // as results name it
        }
        line_->run(untilAsk_);
    }

    void onUntilOutcome(Outcome outcome)
    {
        if (outcome.portFailed) {
            results_.portFailed(port(), lost_.isEmpty() ? outcome.error : lost_);
            results_.result(port(), untilCommand_, outcome);
            status_ = ExitStatus::PortFailed;
            return finish();
        }
        const auto waited = std::chrono::milliseconds(untilClock_.elapsed());
        if (outcome.state == plan_.untilState || waited >= plan_.within) {
            const bool reached = outcome.state == plan_.untilState;
            if (!reached) {
                outcome.ok = false;
                outcome.error = QStringLiteral("still %1 after %2 s")
                                    .arg(outcome.state.isEmpty() ? resultText(outcome) : outcome.state)
                                    .arg(plan_.within.count());
            }
            outcome.ms = waited.count();
            results_.result(port(), untilCommand_, outcome);
            status_ = worse(status_, reached ? ExitStatus::Ok : ExitStatus::Unanswered);
            return finish();
        }
        pause_->start(kUntilEvery);
    }

    // Said once (`message`, the port's name and device first); every command
    // not yet answered is reported as not sent, with `why`.
    void failPort(const QString& message, const QString& why)
    {
        results_.portFailed(port(), message);
        const Outcome failed = portFailure(why);
        for (; index_ < plan_.commands.size(); ++index_)
            results_.result(port(), plan_.commands[index_], failed);
        status_ = ExitStatus::PortFailed;
        finish();
    }

    void finish()
    {
        line_->close();
        fleet_.portDone(this, status_);
    }

    const Plan& plan_;
    const Results& results_;
    Fleet& fleet_;
    std::unique_ptr<ProjectorLine> line_;
    std::unique_ptr<Alarm> pause_;
    qsizetype index_ = 0;
    QString lost_;
    bool waiting_ = false;
    Command untilAsk_;
    Command untilCommand_;
    QElapsedTimer untilClock_;
    ExitStatus status_ = ExitStatus::Ok;
};

std::unique_ptr<ProjectorLine> ownPort(const NamedPort& port, const Plan& plan, Clock& clock)
{
    return std::make_unique<PortLine>(port, plan.settings, clock, plan.replyTimeout,
                                      QStringLiteral("--port NAME=DEVICE"));
}

Fleet::Fleet(QList<NamedPort> ports, Plan plan, Clock& clock, Results results, LineMaker makeLine, QObject* parent)
    : QObject(parent)
    , ports_(std::move(ports))
    , plan_(std::move(plan))
    , clock_(clock)
    , results_(std::move(results))
    , makeLine_(std::move(makeLine))
{
}

Fleet::~Fleet() = default;

void Fleet::start()
{
    if (ports_.isEmpty()) {
        emit finished();
        return;
    }
    startNext();
}

void Fleet::startNext()
{
    while (next_ < ports_.size() && (plan_.parallel <= 0 || running_ < plan_.parallel)) {
        auto* run = new PortRun(makeLine_(ports_[next_], plan_, clock_), plan_, clock_, results_, *this);
        ++next_;
        run->setParent(this);
        ++running_;
        run->start();
    }
}

void Fleet::portDone(PortRun* run, ExitStatus status)
{
    status_ = worse(status_, status);
    --running_;
    run->deleteLater(); // it is still on the stack
    startNext();
    if (running_ == 0 && next_ == ports_.size())
        emit finished();
}

} // namespace orvik
