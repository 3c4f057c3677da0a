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

// One projector's line through its life, as both headless programs use it,
// however it is reached: opened without holding the event loop, refused or
// lost with the words a user needs ("NAME (DEVICE): ..."), and one command
// at a time.
class ProjectorLine : public QObject {
    Q_OBJECT
public:
    explicit ProjectorLine(NamedPort port, QObject* parent = nullptr);

    const NamedPort& port() const { return port_; }
    virtual void open() = 0;
    virtual void close() = 0;
    // Open and not lost: a command can reach the line.
    bool usable() const { return state_ == State::Open; }
    // Why a command cannot reach the line now, in the words of its result.
    QString unusable() const { return why_; }

    // Starts the command; finished() tells its outcome. Not while busy().
    virtual void run(const Command& command) = 0;
    virtual bool busy() const = 0;

signals:
    void opened();
    // Each with the whole text, "NAME (DEVICE): ...".
    void refused(const QString& text);
    void lost(const QString& text);
    void back(const QString& text);
    void finished(const orvik::Outcome& outcome);

protected:
    enum class State { Closed, Opening, Open, Lost };

    QString named(const QString& what) const;
    static QString notOpen() { return QStringLiteral("the port is not open"); }

    State state_ = State::Closed;
    QString why_ = notOpen();

private:
    NamedPort port_;
};

// The line on a port of this program's own.
class PortLine final : public ProjectorLine {
    Q_OBJECT
public:
    // `choose` says how the user names another device ("--port NAME=DEVICE").
    PortLine(NamedPort port, LineSettings settings, Clock& clock, Millis replyTimeout, QString choose,
             QObject* parent = nullptr);
    ~PortLine() override;

    void open() override;
    void close() override;
    void run(const Command& command) override;
    bool busy() const override;

private:
    LineSettings settings_;
    QString choose_;
    std::unique_ptr<PortDevice> device_;
    std::unique_ptr<Exchange> exchange_;
};

} // namespace orvik
