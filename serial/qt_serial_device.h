#pragma once

#include "serial/serial_device.h"

#include <QTimer>

#include <memory>

class QSerialPort;

namespace orvik {

// The serial port behind the control: no flow control, DTR asserted, RTS
// not. A read, write or resource error while open means the device is gone
// (a pulled adapter, the far end of a pty closed): the port is closed at the
// first one, because the port would otherwise report it in a tight loop,
// and tried again at the same path about once a second until it is back.
class QtSerialDevice final : public SerialDevice {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kRetryEvery{1000};

    explicit QtSerialDevice(QObject* parent = nullptr);
    ~QtSerialDevice() override;

    bool open(const QString& path, const LineSettings& settings, OpenFailure* why) override;
    void close() override;
    bool isOpen() const override { return state_ != State::Closed; }
    bool isLost() const { return state_ == State::Lost; }
    bool apply(const LineSettings& settings) override;
    bool write(const QByteArray& bytes) override;
    QByteArray readAll() override;

    QSerialPort& port() { return *port_; }

private:
    enum class State { Closed, Open, Lost };

    bool openPort(OpenFailure* why);
    void onError();
    void lose(const QString& reason);

    std::unique_ptr<QSerialPort> port_;
    State state_ = State::Closed;
    QString path_; // as given: a symlink is followed again at each retry
    LineSettings settings_;
    QTimer retry_;
    bool opening_ = false;
};

} // namespace orvik
