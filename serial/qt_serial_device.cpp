#include "serial/qt_serial_device.h"

#include <QSerialPort>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

namespace orvik {
namespace {

QSerialPort::Parity toQt(Parity p)
{
    switch (p) {
    case Parity::None: return QSerialPort::NoParity;
    case Parity::Even: return QSerialPort::EvenParity;
    case Parity::Odd: return QSerialPort::OddParity;
    case Parity::Mark: return QSerialPort::MarkParity;
    case Parity::Space: return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQt(StopBits s)
{
    switch (s) {
    case StopBits::One: return QSerialPort::OneStop;
    case StopBits::OneAndHalf: return QSerialPort::OneAndHalfStop;
    case StopBits::Two: return QSerialPort::TwoStop;
    }
    return QSerialPort::OneStop;
}

bool applyTo(QSerialPort& port, const LineSettings& s)
{
    if (s.dataBits < 5) // the port cannot do 4 data bits
        return false;
    return port.setBaudRate(s.baud) && port.setParity(toQt(s.parity))
           && port.setDataBits(static_cast<QSerialPort::DataBits>(s.dataBits))
           && port.setStopBits(toQt(s.stopBits)) && port.setFlowControl(QSerialPort::NoFlowControl);
}

// The port's own text for a failed lock says only "Permission error while
// locking the device"; what it means for the user is this.
QString describeOpenFailure(const QSerialPort& port)
{
    const QString text = port.errorString();
    if (port.error() == QSerialPort::PermissionError && text.contains(QLatin1String("locking")))
        return QStringLiteral("in use by another program, or no permission to use the device");
    return text;
}

} // namespace

QtSerialDevice::QtSerialDevice(QObject* parent)
    : SerialDevice(parent)
    , port_(std::make_unique<QSerialPort>())
{
    connect(port_.get(), &QSerialPort::readyRead, this, &SerialDevice::received);
    connect(port_.get(), &QSerialPort::errorOccurred, this, [this] { onError(); });
}

QtSerialDevice::~QtSerialDevice() = default;

bool QtSerialDevice::open(const QString& path, const LineSettings& settings, QString* reason)
{
    if (port_->isOpen())
        port_->close();
    port_->setPortName(path);
    opening_ = true;
    applyTo(*port_, settings);
    if (!port_->open(QIODevice::ReadWrite)) {
        if (reason)
            *reason = describeOpenFailure(*port_);
        port_->clearError();
        opening_ = false;
        return false;
    }
    const bool applied = applyTo(*port_, settings);
    // Modem lines: on a pty these fail with "Inappropriate ioctl for
    // device", which is no reason to refuse the port.
    port_->setDataTerminalReady(true);
    port_->setRequestToSend(false);
    port_->clearError();
    opening_ = false;
    if (!applied) {
        if (reason)
            *reason = QStringLiteral("the device does not take these line settings");
        port_->close();
        return false;
    }
    return true;
}

void QtSerialDevice::close()
{
    if (port_->isOpen())
        port_->close();
    port_->clearError();
}

bool QtSerialDevice::isOpen() const { return port_->isOpen(); }

bool QtSerialDevice::apply(const LineSettings& settings)
{
    opening_ = true; // a refused setting is reported here, not as a lost device
    const bool ok = applyTo(*port_, settings);
    port_->clearError();
    opening_ = false;
    return ok;
}

bool QtSerialDevice::write(const QByteArray& bytes)
{
    if (!port_->isOpen())
        return false;
    qsizetype done = 0;
#ifdef Q_OS_UNIX
    // Straight to the device, so the frame is on the line now rather than at
    // the next event-loop pass. Not QSerialPort::flush(): it also waits for
    // the output to drain (tcdrain), which holds the whole window for the
    // frame's time on the line and throws off the repeat timer.
    if (port_->bytesToWrite() == 0) { // nothing queued that must go first
        ssize_t n = 0;
        do
            n = ::write(int(port_->handle()), bytes.constData(), size_t(bytes.size()));
        while (n < 0 && errno == EINTR);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            lose(qt_error_string(errno));
            return false;
        }
        done = std::max<qsizetype>(n, 0);
    }
#endif
    // What the device would not take now goes out as it makes room.
    if (done < bytes.size() && port_->write(bytes.constData() + done, bytes.size() - done) != bytes.size() - done)
        return false;
    return true;
}

QByteArray QtSerialDevice::readAll()
{
    return port_->isOpen() ? port_->readAll() : QByteArray();
}

void QtSerialDevice::lose(const QString& reason)
{
    port_->close();
    port_->clearError();
    emit lost(reason);
}

void QtSerialDevice::onError()
{
    if (opening_ || !port_->isOpen())
        return;
    switch (port_->error()) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        lose(port_->errorString());
        break;
    default:
        port_->clearError();
        break;
    }
}

} // namespace orvik
