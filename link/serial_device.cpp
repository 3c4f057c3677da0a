#include "link/serial_device.h"

namespace orvik {

void SerialDevice::openLater(const QString& path, const LineSettings& settings)
{
    OpenFailure why;
    const bool ok = open(path, settings, &why);
    QMetaObject::invokeMethod(
        this, [this, ok, why] { emit opened(ok, why); }, Qt::QueuedConnection);
}

} // namespace orvik
