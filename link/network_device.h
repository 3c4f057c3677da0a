#pragma once

#include "link/reconnecting_device.h"
#include "link/telnet.h"

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
class NetworkDevice final : public ReconnectingDevice {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kConnectWithin{3000};

    explicit NetworkDevice(QObject* parent = nullptr);
    ~NetworkDevice() override;

    // Whether the path names a device server rather than a local device.
    static bool handles(const QString& path);

private:
    bool connectLine(OpenFailure* why) override;
    void beginConnecting() override;
    void reconnectLine() override;
    void disconnectLine() override;
    bool applyLine(const LineSettings& settings) override;
    qsizetype waitingOut() const override;
    bool writeLine(const QByteArray& bytes) override;

    bool readAddress(OpenFailure* why);
    bool keepsConnection();
    QString connectFailure() const;
    QString closedReason() const;
    void startSession();
    void onReadable();

    std::unique_ptr<QTcpSocket> socket_;
    QTimer connectDeadline_;
    bool rfc2217_ = false;
    QString host_;
    quint16 port_ = 0;
    // Closed, but not let go until the event loop runs: a handler that closes
    // and opens the same address again keeps the connection.
    bool releasing_ = false;
    telnet::Decoder decoder_;
    QString refusal_; // what the server said before it hung up, if it said why
};

} // namespace orvik
