#pragma once

#include "core/clock.h"
#include "headless/ports_file.h"
#include "link/line_settings.h"
#include "protocol/command_words.h"
#include "protocol/outcome.h"

#include <QList>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace orvik {

// What orvik-send does with every port.
struct Plan {
    QList<Command> commands;
    LineSettings settings;
    Millis gap{0}; // after each reply, before the next command
    Millis replyTimeout{500};
    int parallel = 0;   // most ports open at once; 0: all
    QString untilState; // after the commands, ask status until this power state
    std::chrono::seconds within{120};
};

// Exit statuses, the highest applies.
enum class ExitStatus { Ok = 0, Unanswered = 1, Usage = 2, PortFailed = 3 };

// Receives each result as it comes, and a port that could not be used.
struct Results {
    std::function<void(const NamedPort&, const Command&, const Outcome&)> result;
    std::function<void(const NamedPort&, const QString& failure)> portFailed;
};

class ProjectorLine;
// The line of a port: its own, or through the service that holds it.
using LineMaker = std::function<std::unique_ptr<ProjectorLine>(const NamedPort&, const Plan&, Clock&)>;
// A port of this program's own.
std::unique_ptr<ProjectorLine> ownPort(const NamedPort& port, const Plan& plan, Clock& clock);

// Works every port at the same time on this thread: opens it, runs the
// commands in order, waits for a state if asked, and closes it. A port that
// does not answer costs its own time-outs only.
class Fleet : public QObject {
    Q_OBJECT
public:
    Fleet(QList<NamedPort> ports, Plan plan, Clock& clock, Results results, LineMaker makeLine = ownPort,
          QObject* parent = nullptr);
    ~Fleet() override;

    void start();
    ExitStatus exitStatus() const { return status_; }

signals:
    void finished();

private:
    class PortRun;

    void startNext();
    void portDone(PortRun* run, ExitStatus status);

    QList<NamedPort> ports_;
    Plan plan_;
    Clock& clock_;
    Results results_;
    LineMaker makeLine_;
    qsizetype next_ = 0;
    int running_ = 0;
    ExitStatus status_ = ExitStatus::Ok;
};

} // namespace orvik
