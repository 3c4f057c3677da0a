#pragma once

#include "serial/serial_device.h"
#include "serial/telnet.h"

#include <QTimer>

#include <chrono>
#include <memory>

class QTcpSocket;

namespace orvik {

// A projector's serial line behind a device server on the network:
// rfc2217://HOST:PORT (Telnet with the COM port option: the panel sets the
// server's line) or tcp://HOST:PORT (raw bytes; the line settings are the
// server's). It behaves as a local port does: a dropped connection leaves it
// open but lost, tried again about once a second.
class NetworkDevice final : public SerialDevice {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kConnectWithin{3000};
    static constexpr std::chrono::milliseconds kRetryEvery{1000};

    explicit NetworkDevice(QObject* parent = nullptr);
    ~NetworkDevice() override;

    // Whether the path names a device server rather than a local device.
    static bool handles(const QString& path);

    bool open(const QString& path, const LineSettings& settings, OpenFailure* why) override;
    void close() override;
    bool isOpen() const override { return state_ != State::Closed; }
    bool isLost() const { return state_ == State::Lost; }
    bool apply(const LineSettings& settings) override;
    bool write(const QByteArray& bytes) override;
    QByteArray readAll() override;

private:
    enum class State { Closed, Open, Lost };

    void startSession();
    void onReadable();
    void lose();

    std::unique_ptr<QTcpSocket> socket_;
    QTimer retry_;
    State state_ = State::Closed;
    bool rfc2217_ = false;
    QString host_;
    quint16 port_ = 0;
    LineSettings settings_;
    telnet::Decoder decoder_;
    QByteArray incoming_;
};

} // namespace orvik
