#pragma once

#include "core/clock.h"
#include "headless/ports_file.h"
#include "link/line_settings.h"
#include "protocol/command_words.h"
#include "protocol/outcome.h"

#include <QObject>

#include <memory>

namespace orvik {

class Exchange;
class PortDevice;
struct OpenFailure;

// One projector's port from opening to closing, as both headless programs
// use it: opened without holding the event loop, refused or lost with the
// words a user needs ("NAME (DEVICE): ..."), and one exchange at a time.
class ProjectorLine : public QObject {
    Q_OBJECT
public:
    // `choose` says how the user names another device ("--port NAME=DEVICE").
    ProjectorLine(NamedPort port, LineSettings settings, Clock& clock, Millis replyTimeout, QString choose,
                  QObject* parent = nullptr);
    ~ProjectorLine() override;

    const NamedPort& port() const { return port_; }
    void open();
    void close();
    // Open and not lost: a command can reach the line.
    bool usable() const { return state_ == State::Open; }
    // Why a command cannot reach the line now, in the words of its result.
    QString unusable() const { return why_; }

    // Starts the command; finished() tells its outcome. Not while busy().
    void run(const Command& command);
    bool busy() const;

signals:
    void opened();
    // Each with the whole text, "NAME (DEVICE): ...".
    void refused(const QString& text);
    void lost(const QString& text);
    void back(const QString& text);
    void finished(const orvik::Outcome& outcome);

private:
    enum class State { Closed, Opening, Open, Lost };

    QString named(const QString& what) const;

    NamedPort port_;
    LineSettings settings_;
    QString choose_;
    std::unique_ptr<PortDevice> device_;
    std::unique_ptr<Exchange> exchange_;
    State state_ = State::Closed;
    static QString notOpen() { return QStringLiteral("the port is not open"); }

    QString why_ = notOpen();
};

} // namespace orvik
