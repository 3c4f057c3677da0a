#pragma once

#include "serial/serial_device.h"

#include <memory>

class QSerialPort;

namespace orvik {

// The serial port behind the control: no flow control, DTR asserted, RTS
// not. A read, write or resource error while open means the device is gone
// (a pulled adapter, the far end of a pty closed): the port is closed at the
// first one, because the port would otherwise report it in a tight loop.
class QtSerialDevice final : public SerialDevice {
    Q_OBJECT
public:
    explicit QtSerialDevice(QObject* parent = nullptr);
    ~QtSerialDevice() override;

    bool open(const QString& path, const LineSettings& settings, QString* reason) override;
    void close() override;
    bool isOpen() const override;
    bool apply(const LineSettings& settings) override;
    bool write(const QByteArray& bytes) override;
    QByteArray readAll() override;

    QSerialPort& port() { return *port_; }

private:
    void onError();
    void lose(const QString& reason);

    std::unique_ptr<QSerialPort> port_;
    bool opening_ = false;
};

} // namespace orvik
