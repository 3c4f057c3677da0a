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
#include <memory>

namespace orvik {

class Exchange;
class PortDevice;

// One projector on its own port: polled gently, one exchange at a time,
// commands first. Its states come out as they change.
class ProjectorNode : public QObject {
    Q_OBJECT
public:
    struct Timing {
        std::chrono::seconds poll{10};       // status, mode, setting
        std::chrono::seconds lampPoll{3600}; // l-time: some projectors lock up when asked too often
        Millis replyTimeout{500};
    };
    // Most commands waiting; past that the oldest are dropped.
    static constexpr std::size_t kMaxWaiting = 16;
    // Polls in a row without a reply before the projector counts as offline.
    static constexpr int kMissesOffline = 3;

    ProjectorNode(NamedPort port, LineSettings settings, Timing timing, Clock& clock, QObject* parent = nullptr);
    ~ProjectorNode() override;

    const NamedPort& port() const { return port_; }
    void start();
    // A command from outside: runs before the next poll.
    void command(const Command& command);
    // Every state known now, for a fresh broker connection.
    const QHash<QString, QString>& states() const { return states_; }

signals:
    // "power", "input", "setting", "lamp_hours", "availability".
    void stateChanged(const QString& name, const QString& value);
    void commandDone(const orvik::Command& command, const orvik::Outcome& outcome);
    void problem(const QString& text);

private:
    struct Pending {
        Command command;
        bool fromOutside = false;
    };

    void open();
    void poll(bool lamp);
    void next();
    void onOutcome(const Outcome& outcome);
    void setState(const QString& name, const QString& value);
    void setOnline(bool online);

    NamedPort port_;
    LineSettings settings_;
    Timing timing_;
    std::unique_ptr<PortDevice> device_;
    std::unique_ptr<Exchange> exchange_;
    std::unique_ptr<Alarm> pollAlarm_;
    std::unique_ptr<Alarm> lampAlarm_;
    std::unique_ptr<Alarm> reopenAlarm_;
    std::deque<Pending> commands_;
    std::deque<Command> polls_;
    std::optional<Pending> running_;
    QHash<QString, QString> states_;
    bool open_ = false;
    int misses_ = 0;
    QString lastProblem_;
};

} // namespace orvik
