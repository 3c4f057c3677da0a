#include "serial/port_device.h"

namespace orvik {

PortDevice::PortDevice(QObject* parent)
    : SerialDevice(parent)
{
    for (SerialDevice* device : {static_cast<SerialDevice*>(&local_), static_cast<SerialDevice*>(&network_)}) {
        connect(device, &SerialDevice::received, this, &SerialDevice::received);
        connect(device, &SerialDevice::lost, this, &SerialDevice::lost);
    }
}

bool PortDevice::open(const QString& path, const LineSettings& settings, OpenFailure* why)
{
    active_->close();
    active_ = NetworkDevice::handles(path) ? static_cast<SerialDevice*>(&network_) : &local_;
    return active_->open(path, settings, why);
}

} // namespace orvik
