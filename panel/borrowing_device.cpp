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
    connect(giveBack_, &QTimer::timeout, this, &BorrowingDevice::dropLoan);
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
    settings_ = settings;
    if (loan_ && loanPath_ == path) {
        // Lent, or asked for, and closed a moment ago: the same loan.
        giveBack_->stop();
        if (!lent_) {
            pending_ = true;
            return true;
        }
    } else {
        dropLoan();
    }
    OpenFailure failure;
    if (device_->open(path, settings, &failure))
        return true;
    dropLoan();
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
    loanPath_ = path;
    lent_ = false;
    pending_ = true;
    loan_->lend(path,
                [this, path, failure](const std::optional<QString>& refused) { answered(path, refused, failure); });
    return true;
}

void BorrowingDevice::answered(const QString& path, const std::optional<QString>& refused, const OpenFailure& inUse)
{
    if (refused) {
        qCInfo(lcControl).noquote() << QStringLiteral("The service did not lend %1: %2").arg(path, *refused);
        dropLoan();
    } else {
        lent_ = true;
    }
    if (!std::exchange(pending_, false))
        return; // closed meanwhile: the loan waits a moment for an opening
    OpenFailure why = inUse;
    const bool ok = !refused && device_->open(path, settings_, &why);
    if (ok)
        qCInfo(lcControl).noquote() << QStringLiteral("%1 borrowed from the service").arg(path);
    else
        dropLoan();
    // Told from the event loop: what the window does then (a warning box
    // with a loop of its own, a close) must not run inside the loan's answer.
    QMetaObject::invokeMethod(
        this, [this, ok, why] { emit opened(ok, why); }, Qt::QueuedConnection);
}

void BorrowingDevice::dropLoan()
{
    giveBack_->stop();
    if (loan_)
        loan_.release()->deleteLater(); // it may be telling us something now
}

void BorrowingDevice::close()
{
    device_->close();
    pending_ = false;
    if (loan_)
        giveBack_->start();
}

bool BorrowingDevice::apply(const LineSettings& settings)
{
    settings_ = settings;
    return pending_ || device_->apply(settings);
}

} // namespace orvik
