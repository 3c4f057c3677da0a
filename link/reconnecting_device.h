#pragma once

#include "link/serial_device.h"

#include <QTimer>

#include <chrono>

namespace orvik {

// A device that comes back. It is closed, opening, open, or open but lost:
// a transport that goes away while open leaves it lost, writes take nothing,
// and the transport is tried again at the same path about once a second
// until it is back. Each transport (a local port, a device server) supplies
// only its own part below.
class ReconnectingDevice : public SerialDevice {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kRetryEvery{1000};

    explicit ReconnectingDevice(QObject* parent = nullptr);

    bool open(const QString& path, const LineSettings& settings, OpenFailure* why) final;
    void openLater(const QString& path, const LineSettings& settings) final;
    void close() final;
    bool isOpen() const final { return state_ == State::Open || state_ == State::Lost; }
    bool isLost() const { return state_ == State::Lost; }
    bool apply(const LineSettings& settings) final;
    bool write(const QByteArray& bytes) final;
    QByteArray readAll() final;
    void discardInput() final;

protected:
    // Opens the transport now, with path() and settings().
    virtual bool connectLine(OpenFailure* why) = 0;
    // Starts opening without holding the event loop; ends in opened(). A
    // transport that opens at once needs nothing more than connectLine().
    virtual void beginConnecting();
    // Tries a lost transport again; it calls restored() once it is back.
    // Here: connectLine() once more.
    virtual void reconnectLine();
    virtual void disconnectLine() = 0;
    virtual bool applyLine(const LineSettings& settings) = 0;
    // Bytes taken and not yet on the line, the transport's own and its
    // driver's: a frame that would take more than kOutBufferSize is dropped.
    virtual qsizetype waitingOut() const = 0;
    // False when nothing was taken, or the transport failed (it calls lose()).
    virtual bool writeLine(const QByteArray& bytes) = 0;
    // Drops what the transport's driver holds of the input, if it holds any.
    virtual void discardLineInput() {}

    // The transport's reports: bytes came in, it went away, it is back, an
    // opening begun by beginConnecting() ended.
    void deliver(const QByteArray& bytes);
    void lose(const QString& reason);
    void restored();
    void finishOpening(bool ok, const OpenFailure& why);

    bool isLive() const { return state_ == State::Open; }
    bool isOpening() const { return state_ == State::Opening; }
    const QString& path() const { return path_; }
    const LineSettings& settings() const { return settings_; }

private:
    enum class State { Closed, Opening, Open, Lost };

    State state_ = State::Closed;
    QString path_; // as given: a symlink or a host name is looked up anew at each retry
    LineSettings settings_;
    QByteArray incoming_; // arrived, not yet read
    QTimer retry_;
};

} // namespace orvik
