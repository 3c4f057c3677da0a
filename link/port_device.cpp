#include "link/port_device.h"

namespace orvik {

PortDevice::PortDevice(QObject* parent)
    : SerialDevice(parent)
{
    for (ReconnectingDevice* device :
         {static_cast<ReconnectingDevice*>(&local_), static_cast<ReconnectingDevice*>(&network_)}) {
        connect(device, &SerialDevice::opened, this, &SerialDevice::opened);
        connect(device, &SerialDevice::received, this, &SerialDevice::received);
        connect(device, &SerialDevice::lost, this, &SerialDevice::lost);
        connect(device, &SerialDevice::back, this, &SerialDevice::back);
    }
}

bool PortDevice::open(const QString& path, const LineSettings& settings, OpenFailure* why)
{
    select(path);
    return active_->open(path, settings, why);
}

void PortDevice::openLater(const QString& path, const LineSettings& settings)
{
    select(path);
    active_->openLater(path, settings);
}

void PortDevice::select(const QString& path)
{
    active_->close();
    active_ = NetworkDevice::handles(path) ? static_cast<ReconnectingDevice*>(&network_) : &local_;
}

} // namespace orvik
