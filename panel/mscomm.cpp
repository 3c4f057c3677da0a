#include "panel/mscomm.h"

#include <QtGlobal>

namespace orvik {
MSComm::MSComm(std::unique_ptr<SerialDevice> device, PortMap ports, Failure& failure, QObject* parent)
    : QObject(parent)
    , device_(std::move(device))
    , ports_(std::move(ports))
    , failure_(failure)
{
    connect(device_.get(), &SerialDevice::received, this, [this] {
        event_ = kReceiveEvent;
        emit OnComm();
    });
    connect(device_.get(), &SerialDevice::lost, this, [this] {
        event_ = kDeviceLostEvent;
        emit OnComm();
    });
    // A port that opens later (borrowed from the service) and cannot be had
    // after all fails as an opening does.
    connect(device_.get(), &SerialDevice::opened, this, [this](bool ok, const OpenFailure& why) {
        if (!ok)
            emit openFailedLater(describeOpenFailure(port_, openedPath_, why, loginName()));
    });
}

MSComm::~MSComm() { device_->close(); }

void MSComm::setCommPort(int port)
{
    if (device_->isOpen()) {
        failure_.raise(int(CommFailure::PortAlreadyOpen), QStringLiteral("Port already open"));
        return;
    }
    if (port < 1 || port > 16) {
        failure_.raise(int(CommFailure::InvalidPortNumber), QStringLiteral("Invalid port number"));
        return;
    }
    port_ = port;
}

void MSComm::setSettings(const QString& text)
{
    const auto parsed = parseLineSettings(text);
    if (!parsed) {
        failure_.raise(int(CommFailure::InvalidPropertyValue), QStringLiteral("Invalid property value"));
        return;
    }
    settings_ = *parsed;
    if (device_->isOpen() && !device_->apply(settings_))
        failure_.raise(int(CommFailure::InvalidPropertyValue),
                       QStringLiteral("The port does not take the settings %1").arg(text));
}

bool MSComm::portOpen() const { return device_->isOpen(); }

void MSComm::setPortOpen(bool open)
{
    if (!open) {
        device_->close();
        return;
    }
    if (device_->isOpen()) {
        failure_.raise(int(CommFailure::PortAlreadyOpen), QStringLiteral("Port already open"));
        return;
    }
    const QString path = ports_(port_);
    openedPath_ = path;
    OpenFailure why;
    if (!device_->open(path, settings_, &why))
        failure_.raise(int(CommFailure::PortOpenFailed), describeOpenFailure(port_, path, why, loginName()));
}

bool MSComm::setOutput(const QString& text)
{
    if (!device_->isOpen())
        return false;
    return device_->write(text.toLatin1());
}

QString MSComm::input() { return QString::fromLatin1(device_->readAll()); }

} // namespace orvik
