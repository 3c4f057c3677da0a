#pragma once

#include "link/network_device.h"
#ifdef Q_OS_WIN
#include "link/win_serial_device.h"
#else
#include "link/unix_serial_device.h"
#endif

namespace orvik {

// The device a port's path names: a device server for rfc2217:// and tcp://
// paths, a local serial port for any other.
class PortDevice final : public SerialDevice {
    Q_OBJECT
public:
    explicit PortDevice(QObject* parent = nullptr);

    bool open(const QString& path, const LineSettings& settings, OpenFailure* why) override;
    void openLater(const QString& path, const LineSettings& settings) override;
    void close() override { active_->close(); }
    bool isOpen() const override { return active_->isOpen(); }
    bool apply(const LineSettings& settings) override { return active_->apply(settings); }
    bool write(const QByteArray& bytes) override { return active_->write(bytes); }
    QByteArray readAll() override { return active_->readAll(); }
    void discardInput() override { active_->discardInput(); }

private:
    void select(const QString& path);

#ifdef Q_OS_WIN
    WinSerialDevice local_;
#else
    UnixSerialDevice local_;
#endif
    NetworkDevice network_;
    ReconnectingDevice* active_ = &local_;
};

} // namespace orvik
