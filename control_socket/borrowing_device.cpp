#include "control_socket/borrowing_device.h"

#include "core/logging.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace orvik::control {
namespace {

using namespace std::chrono_literals;

// Saying hello, and the service finishing an exchange (a reply time-out, a
// hold's last steps) and closing the port.
constexpr std::chrono::milliseconds kHelloWait = 2s;
constexpr std::chrono::milliseconds kLendWait = 5s;

} // namespace

BorrowingDevice::BorrowingDevice(std::unique_ptr<SerialDevice> device, QString who, QObject* parent)
    : SerialDevice(parent)
    , device_(std::move(device))
    , who_(std::move(who))
{
    connect(device_.get(), &SerialDevice::opened, this, [this](bool ok, const OpenFailure& why) {
        if (!ok)
            loan_.reset();
        emit opened(ok, why);
    });
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
    borrow(path);
    const bool ok = device_->open(path, settings, why);
    if (!ok)
        loan_.reset();
    return ok;
}

void BorrowingDevice::openLater(const QString& path, const LineSettings& settings)
{
    borrow(path);
    device_->openLater(path, settings);
}

void BorrowingDevice::close()
{
    device_->close();
    loan_.reset();
}

void BorrowingDevice::borrow(const QString& path)
{
    loan_.reset();
    const QString socket = socketPath();
    if (!QFileInfo::exists(socket))
        return;
    QString error;
    auto client = ServiceClient::connect(socket, kHelloWait, &error);
    if (!client) {
        if (!error.isEmpty())
            qCWarning(lcControl).noquote() << error;
        return; // opened as it is: refused with the holder's name if the service holds it
    }
    const auto device = client->holds(path);
    if (!device)
        return;
    if (const auto refused = client->lend(*device, who_, QCoreApplication::applicationPid(), kLendWait)) {
        qCWarning(lcControl).noquote()
            << QStringLiteral("%1 did not lend %2: %3").arg(client->service(), path, *refused);
        return;
    }
    qCInfo(lcControl).noquote() << QStringLiteral("%1 borrowed from %2").arg(path, client->service());
    loan_ = std::move(client);
}

} // namespace orvik::control
