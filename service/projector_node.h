#pragma once

#include "core/clock.h"
#include "headless/ports_file.h"
#include "link/line_settings.h"
#include "protocol/command_words.h"
#include "protocol/outcome.h"

#include <QHash>
#include <QObject>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>

namespace orvik {

class PortLine;

// One projector on its own port: polled gently, one exchange at a time,
// commands first. Its states come out as they change.
class ProjectorNode : public QObject {
    Q_OBJECT
public:
    struct Timing {
        std::chrono::seconds poll{10};       // status, mode, setting
        std::chrono::seconds lampPoll{3600}; // l-time: some projectors lock up when asked too often
        Millis replyTimeout{500};
        // While the power is changing, and after a set, the status is asked
        // this often until two answers agree on a settled state.
        Millis follow{1000};
        // Followed at most this long: a projector stuck cooling down is then
        // asked at the poll period again.
        Millis followAtMost{std::chrono::minutes(5)};
    };
    // Most commands waiting; past that the oldest are dropped.
    static constexpr std::size_t kMaxWaiting = 16;
    // Polls in a row without a reply before the projector counts as offline.
    static constexpr int kMissesOffline = 3;

    ProjectorNode(NamedPort port, LineSettings settings, Timing timing, Clock& clock, QObject* parent = nullptr);
    ~ProjectorNode() override;

    const NamedPort& port() const;
    void start();
    // Told a command's outcome; after a power or input command that
    // succeeded, only once the state it changed was asked again.
    using Done = std::function<void(const Outcome&)>;
    // A command from outside: runs before the next poll.
    void command(const Command& command, Done done = {});
    // Commands and polls waiting to run.
    std::size_t waiting() const { return commands_.size() + polls_.size(); }
    // Every state known now, for a fresh broker connection.
    const QHash<QString, QString>& states() const { return states_; }

    // Hands the port to another program (`to`: "orvik-control (process
    // N)"): the exchange in progress is finished, the port closed, and then
    // `closed` told. Until takeBack(), the projector is offline and every
    // command is answered "lent to ...".
    void lend(const QString& to, std::function<void()> closed);
    // Opens the port again shortly, and polls once it is open.
    void takeBack();
    // Whom the port is lent to, if it is.
    const QString& lentTo() const { return lentTo_; }

signals:
    // "power", "input", "setting", "lamp_hours", "availability", and once
    // set through the service, "video_mute" and "audio_mute"; while the
    // port is lent, "availability_reason" says to whom (empty after).
    void stateChanged(const QString& name, const QString& value);
    // Each poll's outcome.
    void polled(const orvik::Command& command, const orvik::Outcome& outcome);
    void commandDone(const orvik::Command& command, const orvik::Outcome& outcome);
    // "NAME (DEVICE): ..." when the port is refused (once until it changes)
    // or lost; recovered() when it opens after that, or comes back.
    void problem(const QString& text);
    void recovered(const QString& text);

private:
    struct Pending {
        Command command;
        bool fromOutside = false;
        Done done;
        std::optional<Outcome> told; // what `done` is told, when this is the poll after a command
    };

    void poll(bool lamp);
    // A poll waits at most once: at the front if it is wanted at once.
    void queuePoll(Pending poll, bool first);
    void next();
    void onOutcome(const Outcome& outcome);
    void afterCommand(const Pending& done, const Outcome& outcome);
    void setState(const QString& name, const QString& value);
    void setOnline(bool online);
    // Starts or goes on following the power after a status answer (`power`
    // empty when there was none), or after a set.
    void follow(const QString& power);
    void startFollowing();

    Timing timing_;
    Clock& clock_;
    void closeIfLent();

    std::unique_ptr<PortLine> line_;
    std::unique_ptr<Alarm> pollAlarm_;
    std::unique_ptr<Alarm> lampAlarm_;
    std::unique_ptr<Alarm> reopenAlarm_;
    std::unique_ptr<Alarm> followAlarm_;
    std::optional<Millis> followingSince_; // while the power is followed
    QString lastPower_;                    // the status answer before this one
    std::deque<Pending> commands_;
    std::deque<Pending> polls_;
    std::optional<Pending> running_;
    QHash<QString, QString> states_;
    int misses_ = 0;
    QString lastProblem_;
    QString lentTo_;
    std::function<void()> whenClosed_; // a loan waiting for the exchange in progress
};

} // namespace orvik
