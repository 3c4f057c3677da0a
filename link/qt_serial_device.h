#pragma once

#include "link/reconnecting_device.h"

#include <memory>
#include <optional>

class QSerialPort;

namespace orvik {

// A local serial port: no flow control, DTR asserted, RTS not. A read,
// write or resource error while open means the device is gone (a pulled
// adapter, the far end of a pty closed): the port is closed at the first
// one, because the port would otherwise report it in a tight loop, and it
// is tried again as a reconnecting device does. A pty is tried again only
// through a link its owner has made anew: a pty's number is handed to the
// next program that asks for one, someone's terminal as likely as not.
class QtSerialDevice final : public ReconnectingDevice {
    Q_OBJECT
public:
    explicit QtSerialDevice(QObject* parent = nullptr);
    ~QtSerialDevice() override;

    QSerialPort& port() { return *port_; }

    // A symlink as it was when the port opened through it.
    struct LinkStamp {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 changedNs = 0;
        bool operator==(const LinkStamp&) const = default;
    };

private:
    bool connectLine(OpenFailure* why) override;
    void reconnectLine() override;
    void disconnectLine() override;
    bool applyLine(const LineSettings& settings) override;
    qsizetype waitingOut() const override;
    bool writeLine(const QByteArray& bytes) override;
    void discardLineInput() override;

    void onError();
    QString lossReason() const;
    bool hungUp() const;
    bool takeFlock(const QString& device, OpenFailure* why);
    void dropFlock();

    std::unique_ptr<QSerialPort> port_;
    bool opening_ = false;
    int lockFd_ = -1; // holds the flock() while the port is open
    // Set when the port opened a pty: the link it was reached through (no
    // value for a bare /dev/pts/N), as the link was then.
    std::optional<std::optional<LinkStamp>> ptyLink_;
};

} // namespace orvik
