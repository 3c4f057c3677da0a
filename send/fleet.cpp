#include "send/fleet.h"

#include "link/open_failure.h"
#include "link/port_device.h"
#include "protocol/exchange.h"

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
    PortRun(const NamedPort& port, const Plan& plan, Clock& clock, const Results& results, Fleet& fleet)
        : port_(port)
        , plan_(plan)
        , results_(results)
        , fleet_(fleet)
        , exchange_(device_, clock, plan.replyTimeout)
        , pause_(clock.makeAlarm([this] {
            pause_->stop();
            next();
        }))
    {
        connect(&device_, &SerialDevice::opened, this, [this](bool ok, const OpenFailure& why) {
            ok ? next()
               : failPort(describeOpenFailure(port_.name, QStringLiteral("--port NAME=DEVICE"), port_.device, why,
                                              loginName()));
        });
        connect(&device_, &SerialDevice::lost, this, [this](const QString& reason) {
            lost_ = QStringLiteral("%1 (%2): lost: %3").arg(port_.name, port_.device, reason);
        });
        connect(&exchange_, &Exchange::finished, this, &PortRun::onOutcome);
    }

    void start() { device_.openLater(port_.device, plan_.settings); }

private:
    void next()
    {
        if (!lost_.isEmpty()) // lost between two commands, or while waiting for a state
            return waiting_ ? onUntilOutcome(portFailure(lost_)) : failPort(lost_);
        if (index_ < plan_.commands.size())
            return exchange_.run(plan_.commands[index_]);
        if (!plan_.untilState.isEmpty())
            return askUntil();
        finish();
    }

    void onOutcome(Outcome outcome)
    {
        if (!lost_.isEmpty() && !outcome.ok)
            outcome = portFailure(lost_);
        if (waiting_)
            return onUntilOutcome(outcome);
        if (outcome.portFailed)
            return failPort(outcome.error);
        const Command& command = plan_.commands[index_++];
        results_.result(port_, command, outcome);
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
            untilCommand_ = std::get<Command>(parseCommand(QStringLiteral("status")));
            untilCommand_.text = QStringLiteral("until:") + plan_.untilState;
        }
        exchange_.run(untilCommand_);
    }

    void onUntilOutcome(Outcome outcome)
    {
        if (outcome.portFailed) {
            results_.portFailed(port_, outcome.error);
            results_.result(port_, untilCommand_, outcome);
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
            results_.result(port_, untilCommand_, outcome);
            status_ = worse(status_, reached ? ExitStatus::Ok : ExitStatus::Unanswered);
            return finish();
        }
        pause_->start(kUntilEvery);
    }

    // Said once; every command not yet answered is reported as not sent.
    void failPort(const QString& why)
    {
        results_.portFailed(port_, why);
        const Outcome failed = portFailure(why);
        for (; index_ < plan_.commands.size(); ++index_)
            results_.result(port_, plan_.commands[index_], failed);
        status_ = ExitStatus::PortFailed;
        finish();
    }

    void finish()
    {
        device_.close();
        fleet_.portDone(this, status_);
    }

    NamedPort port_;
    const Plan& plan_;
    const Results& results_;
    Fleet& fleet_;
    PortDevice device_;
    Exchange exchange_;
    std::unique_ptr<Alarm> pause_;
    qsizetype index_ = 0;
    QString lost_;
    bool waiting_ = false;
    Command untilCommand_;
    QElapsedTimer untilClock_;
    ExitStatus status_ = ExitStatus::Ok;
};

Fleet::Fleet(QList<NamedPort> ports, Plan plan, Clock& clock, Results results, QObject* parent)
    : QObject(parent)
    , ports_(std::move(ports))
    , plan_(std::move(plan))
    , clock_(clock)
    , results_(std::move(results))
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
        auto* run = new PortRun(ports_[next_++], plan_, clock_, results_, *this);
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
