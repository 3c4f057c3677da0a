#pragma once

#include "link/reconnecting_device.h"

#include <memory>

class QSerialPort;

namespace orvik {

// A local serial port: no flow control, DTR asserted, RTS not. A read,
// write or resource error while open means the device is gone (a pulled
// adapter, the far end of a pty closed): the port is closed at the first
// one, because the port would otherwise report it in a tight loop, and it
// is tried again as a reconnecting device does.
class QtSerialDevice final : public ReconnectingDevice {
    Q_OBJECT
public:
    explicit QtSerialDevice(QObject* parent = nullptr);
    ~QtSerialDevice() override;

    QSerialPort& port() { return *port_; }

private:
    bool connectLine(OpenFailure* why) override;
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
};

} // namespace orvik
