#include "link/qt_serial_device.h"

#include "link/port_map.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSerialPort>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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
           && port.setDataBits(static_cast<QSerialPort::DataBits>(s.dataBits)) && port.setStopBits(toQt(s.stopBits))
           && port.setFlowControl(QSerialPort::NoFlowControl);
}

OpenFailure failure(OpenFailure::Kind kind, QString detail = {}, qint64 pid = 0)
{
    return {kind, std::move(detail), pid, {}};
}

#ifdef Q_OS_UNIX

OpenFailure missing()
{
    OpenFailure f = failure(OpenFailure::Kind::Missing);
    f.ports = orderedPorts(serialPortsOfThisMachine());
    return f;
}

// Whether a character device is a terminal line a projector can hang on:
// not the controlling terminal (/dev/tty), the console or a pty master
// (/dev/ptmx, BSD masters), which are terminals too but no serial ports.
// Pty slaves count: the simulator is one.
bool isSerialLine(dev_t device)
{
    const unsigned int major = ::major(device);
    const unsigned int minor = ::minor(device);
    if (major == 5 && minor <= 2) // /dev/tty, /dev/console, /dev/ptmx
        return false;
    if (major == 2 || (major == 4 && minor < 64)) // pty masters, virtual consoles
        return false;
#ifdef Q_OS_LINUX
    // Only devices of the tty class; /dev/null, /dev/zero and the like are not.
    const QString subsystem =
        QFileInfo(QStringLiteral("/sys/dev/char/%1:%2/subsystem").arg(major).arg(minor)).symLinkTarget();
    if (!subsystem.isEmpty() && !subsystem.endsWith(QLatin1String("/tty")))
        return false;
#endif
    return true;
}

// Before the port is touched: does the device exist, is it a serial line,
// may this user open it? Nothing is opened for this.
bool checkDevice(const QString& path, OpenFailure* why)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        *why = errno == ENOENT ? missing() : failure(OpenFailure::Kind::Other, qt_error_string(errno));
        return false;
    }
    if (!S_ISCHR(info.st_mode) || !isSerialLine(info.st_rdev)) {
        *why = failure(OpenFailure::Kind::NotSerial);
        return false;
    }
    if (::access(QFile::encodeName(path).constData(), R_OK | W_OK) != 0 && errno == EACCES) {
        // Joining the owning group helps only where the group may read and write.
        const group* owner =
            (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP) ? ::getgrgid(info.st_gid) : nullptr;
        *why = failure(OpenFailure::Kind::NoPermission, owner ? QString::fromLocal8Bit(owner->gr_name) : QString());
        return false;
    }
    return true;
}

// Where QSerialPort keeps the lock of a device, as it chooses it.
QString lockFileOf(const QString& path)
{
    QString name = path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
    name.replace(u'/', u'_');
    for (const char* dir :
         {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp", "/var/lock/lockdev", "/run/lock"}) {
        const QFileInfo folder(QString::fromLatin1(dir));
        const QString file = folder.filePath() + QStringLiteral("/LCK..") + name;
        if (folder.isReadable() && (QFile::exists(file) || folder.isWritable()))
            return file;
    }
    return {};
}

// The port would not take its lock: who holds it, or what else stopped it.
OpenFailure lockFailure(const QString& path)
{
    const QString file = lockFileOf(path);
    if (file.isEmpty())
        return failure(OpenFailure::Kind::Other, QStringLiteral("no folder for lock files can be written"));
    qint64 pid = 0;
    QString host, program;
    if (!QLockFile(file).getLockInfo(&pid, &host, &program)) {
        if (QFile::exists(file))
            return failure(OpenFailure::Kind::Other, QStringLiteral("cannot read the lock file %1").arg(file));
        const QString folder = QFileInfo(file).path();
        return failure(OpenFailure::Kind::Other,
                       QStringLiteral("cannot create a lock file in %1: %2").arg(folder, qt_error_string(EACCES)));
    }
    if (::kill(pid_t(pid), 0) == 0 || errno == EPERM) {
        if (program.isEmpty()) {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
            if (comm.open(QIODevice::ReadOnly))
                program = QString::fromLocal8Bit(comm.readAll()).trimmed();
        }
        return failure(OpenFailure::Kind::HeldBy, program, pid);
    }
    return failure(OpenFailure::Kind::StaleLock, file, pid);
}

#endif

} // namespace

QtSerialDevice::QtSerialDevice(QObject* parent)
    : ReconnectingDevice(parent)
    , port_(std::make_unique<QSerialPort>())
{
    connect(port_.get(), &QSerialPort::readyRead, this, [this] {
        if (isLive())
            emit received();
    });
    connect(port_.get(), &QSerialPort::errorOccurred, this, [this] { onError(); });
}

QtSerialDevice::~QtSerialDevice() { port_->disconnect(this); }

bool QtSerialDevice::connectLine(OpenFailure* why)
{
    OpenFailure scratch;
    OpenFailure& reason = why ? *why : scratch;
    // A symlink and its target share one lock.
    const QString device = canonicalDevicePath(path());
#ifdef Q_OS_UNIX
    if (!checkDevice(device, &reason))
        return false;
#endif
    port_->setPortName(device);
    opening_ = true;
    applyTo(*port_, settings());
    if (!port_->open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = port_->error();
        const QString text = port_->errorString();
        port_->clearError();
        opening_ = false;
#ifdef Q_OS_UNIX
        if (error == QSerialPort::PermissionError && text.contains(QLatin1String("locking")))
            reason = lockFailure(device);
        else if (text == qt_error_string(EBUSY))
            reason = failure(OpenFailure::Kind::Busy);
        else if (error == QSerialPort::DeviceNotFoundError)
            reason = missing();
        else
#endif
            reason = failure(OpenFailure::Kind::Other, text);
        return false;
    }
    const bool applied = applyTo(*port_, settings());
    // Modem lines: on a pty these fail with "Inappropriate ioctl for
    // device", which is no reason to refuse the port.
    port_->setDataTerminalReady(true);
    port_->setRequestToSend(false);
    port_->clearError();
    opening_ = false;
    if (!applied) {
        reason = failure(OpenFailure::Kind::Other, QStringLiteral("the device does not take these line settings"));
        port_->close();
        return false;
    }
    return true;
}

void QtSerialDevice::reconnectLine()
{
    if (connectLine(nullptr))
        restored();
}

void QtSerialDevice::disconnectLine()
{
    if (port_->isOpen())
        port_->close();
    port_->clearError();
}

bool QtSerialDevice::applyLine(const LineSettings& settings)
{
    opening_ = true; // a refused setting is reported here, not as a lost device
    const bool ok = applyTo(*port_, settings);
    port_->clearError();
    opening_ = false;
    return ok;
}

bool QtSerialDevice::writeLine(const QByteArray& bytes)
{
    qint64 waiting = port_->bytesToWrite();
#if defined(Q_OS_UNIX) && defined(TIOCOUTQ)
    int inDriver = 0; // a real port's own queue; a pty reports none
    if (::ioctl(int(port_->handle()), TIOCOUTQ, &inDriver) == 0)
        waiting += inDriver;
#endif
    if (waiting + bytes.size() > kOutBufferSize)
        return false; // a stalled line: dropped, never sent late
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
    return done == bytes.size() || port_->write(bytes.constData() + done, bytes.size() - done) == bytes.size() - done;
}

QByteArray QtSerialDevice::readLine() { return port_->readAll(); }

void QtSerialDevice::onError()
{
    if (opening_ || !isLive() || !port_->isOpen() || port_->error() == QSerialPort::NoError)
        return;
    switch (port_->error()) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError: lose(port_->errorString()); break;
    default: port_->clearError(); break;
    }
}

} // namespace orvik
