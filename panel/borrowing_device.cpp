#include "panel/borrowing_device.h"

#include "control_socket/service_client.h"
#include "core/logging.h"

namespace orvik {

BorrowingDevice::BorrowingDevice(std::unique_ptr<SerialDevice> device, QObject* parent)
    : SerialDevice(parent)
    , device_(std::move(device))
    , giveBack_(new QTimer(this))
{
    giveBack_->setSingleShot(true);
    giveBack_->setInterval(std::chrono::seconds(1));
    connect(giveBack_, &QTimer::timeout, this, [this] { loan_.reset(); });
    connect(device_.get(), &SerialDevice::opened, this, &SerialDevice::opened);
    connect(device_.get(), &SerialDevice::received, this, &SerialDevice::received);
    connect(device_.get(), &SerialDevice::lost, this, &SerialDevice::lost);
    connect(device_.get(), &SerialDevice::back, this, &SerialDevice::back);
}

BorrowingDevice::~BorrowingDevice()
{
    device_->close(); // before the loan ends
}

bool BorrowingDevice::open(const QString& path, const LineSettings& settings, OpenFailure* why)
{
    close();
    const bool kept = loan_ && loanPath_ == path;
    giveBack_->stop();
    if (!kept)
        loan_.reset();
    OpenFailure failure;
    if (device_->open(path, settings, &failure))
        return true;
    loan_.reset();
    if (why)
        *why = failure;
    if (failure.kind != OpenFailure::Kind::HeldBy && failure.kind != OpenFailure::Kind::Busy)
        return false;
    QString error;
    loan_ = control::ServiceClient::open(control::socketPath(), &error);
    if (!loan_) {
        if (!error.isEmpty())
            qCWarning(lcControl).noquote() << error;
        return false; // in use by another program, as the failure says
    }
    settings_ = settings;
    loanPath_ = path;
    pending_ = true;
    loan_->lend(path, [this, path, failure](const std::optional<QString>& refused) { lent(path, refused, failure); });
    return true;
}

void BorrowingDevice::lent(const QString& path, const std::optional<QString>& refused, const OpenFailure& inUse)
{
    if (!pending_)
        return;
    pending_ = false;
    if (refused) {
        qCInfo(lcControl).noquote() << QStringLiteral("The service did not lend %1: %2").arg(path, *refused);
        loan_.reset();
        emit opened(false, inUse);
        return;
    }
    OpenFailure why;
    if (!device_->open(path, settings_, &why)) {
        loan_.reset();
        emit opened(false, why);
        return;
    }
    qCInfo(lcControl).noquote() << QStringLiteral("%1 borrowed from the service").arg(path);
    emit opened(true, {});
}

void BorrowingDevice::close()
{
    device_->close();
    if (std::exchange(pending_, false))
        loan_.reset();
    if (loan_)
        giveBack_->start();
}

bool BorrowingDevice::apply(const LineSettings& settings)
{
    settings_ = settings;
    return pending_ || device_->apply(settings);
}

} // namespace orvik
