#pragma once

#include "control_socket/service_client.h"
#include "link/serial_device.h"

#include <memory>

namespace orvik::control {

// A device that borrows its port from the service when the service holds
// it: before opening, the service is asked to finish its exchange and close
// the port; when this device closes, or the process ends in any way, the
// connection ends and the service takes the port back. A port the service
// does not hold is opened as it is.
class BorrowingDevice final : public SerialDevice {
    Q_OBJECT
public:
    // `who` names this program to the service's other users.
    BorrowingDevice(std::unique_ptr<SerialDevice> device, QString who, QObject* parent = nullptr);
    ~BorrowingDevice() override;

    bool open(const QString& path, const LineSettings& settings, OpenFailure* why) override;
    void openLater(const QString& path, const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return device_->isOpen(); }
    bool apply(const LineSettings& settings) override { return device_->apply(settings); }
    bool write(const QByteArray& bytes) override { return device_->write(bytes); }
    QByteArray readAll() override { return device_->readAll(); }
    void discardInput() override { device_->discardInput(); }

private:
    void borrow(const QString& path);

    std::unique_ptr<SerialDevice> device_;
    QString who_;
    std::unique_ptr<ServiceClient> loan_;
};

} // namespace orvik::control
