#include "tests/support/fake_serial_device.h"

namespace orvik::test {

bool FakeSerialDevice::open(const QString& path, const LineSettings& s, OpenFailure* why)
{
    if (missing.contains(path)) {
        if (why)
            *why = {OpenFailure::Kind::Missing};
        return false;
    }
    open_ = true;
    openedPath = path;
    settings = s;
    ++openings;
    return true;
}

bool FakeSerialDevice::apply(const LineSettings& s)
{
    settings = s;
    return true;
}

bool FakeSerialDevice::write(const QByteArray& bytes)
{
    if (!open_ || lost_)
        return false;
    written += bytes;
    emit wrote(bytes);
    return true;
}

QByteArray FakeSerialDevice::readAll()
{
    QByteArray out;
    out.swap(incoming_);
    return out;
}

void FakeSerialDevice::inject(const QByteArray& bytes)
{
    incoming_ += bytes;
    emit received();
}

void FakeSerialDevice::pull()
{
    lost_ = true;
    emit lost(QStringLiteral("device removed"));
}

} // namespace orvik::test
