#pragma once

#include "link/serial_device.h"

#include <QTimer>

#include <memory>

namespace orvik {

namespace control {
class ServiceClient;
}

// A device that borrows its port from the service when the service holds
// it. A port that opens is simply open. One that is in use, where a service
// listens, is asked of the service without waiting: meanwhile the device
// counts as open and takes no bytes, as a device that is reconnecting;
// once lent it opens, and a port that cannot be had after all is told
// through opened(false, why). The service is asked to finish its exchange
// and close the port; when this device closes, or the process ends in any
// way, the connection ends and the service takes the port back; a port
// closed and opened again at once (as the panel does at start) keeps its loan.
class BorrowingDevice final : public SerialDevice {
    Q_OBJECT
public:
    explicit BorrowingDevice(std::unique_ptr<SerialDevice> device, QObject* parent = nullptr);
    ~BorrowingDevice() override;

    bool open(const QString& path, const LineSettings& settings, OpenFailure* why) override;
    void close() override;
    bool isOpen() const override { return pending_ || device_->isOpen(); }
    bool apply(const LineSettings& settings) override;
    bool write(const QByteArray& bytes) override { return !pending_ && device_->write(bytes); }
    QByteArray readAll() override { return device_->readAll(); }
    void discardInput() override { device_->discardInput(); }

private:
    void answered(const QString& path, const std::optional<QString>& refused, const OpenFailure& inUse);
    void dropLoan();

    std::unique_ptr<SerialDevice> device_;
    std::unique_ptr<control::ServiceClient> loan_;
    QString loanPath_;
    QTimer* giveBack_; // the loan ends a moment after the port closes
    LineSettings settings_;
    bool lent_ = false;    // the service has closed the port for us
    bool pending_ = false; // to be opened once the service has lent it
};

} // namespace orvik
