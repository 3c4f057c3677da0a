#include "link/qt_serial_device.h"

#include "link/port_map.h"

#include "link/lock_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
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

// How systemd's DeviceAllow= names a character device's group: "char-ttyAMA"
// for 204 where /proc/devices lists it, else the device itself by number.
QString deviceAllowOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISCHR(info.st_mode))
        return {};
    const unsigned int major = ::major(info.st_rdev);
    QFile devices(QStringLiteral("/proc/devices"));
    if (devices.open(QIODevice::ReadOnly | QIODevice::Text)) {
        bool character = false;
        for (QByteArray line = devices.readLine(256); !line.isEmpty(); line = devices.readLine(256)) {
            line = line.trimmed();
            const QList<QByteArray> fields = line.split(' ');
            if (line.endsWith(':'))
                character = line == "Character devices:";
            else if (character && fields.size() == 2 && fields[0] == QByteArray::number(major))
                return QStringLiteral("char-") + QString::fromLatin1(fields[1]);
        }
    }
    return QStringLiteral("/dev/char/%1:%2").arg(major).arg(::minor(info.st_rdev));
}

// A symlink as it is now: made anew, it is another file. Nothing for a path
// that is no symlink.
std::optional<QtSerialDevice::LinkStamp> linkStampOf(const QString& path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISLNK(info.st_mode))
        return std::nullopt;
    return QtSerialDevice::LinkStamp{quint64(info.st_dev), quint64(info.st_ino),
                                     qint64(info.st_ctim.tv_sec) * 1'000'000'000 + info.st_ctim.tv_nsec};
}

bool isPty(const QString& device)
{
    struct stat info {};
    if (::stat(QFile::encodeName(device).constData(), &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    const unsigned int major = ::major(info.st_rdev);
    return major >= 136 && major <= 143; // Unix98 pty slaves
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

bool isRunning(qint64 pid) { return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM); }

// The name a process was started by (its comm is cut at 15 characters).
QString programOf(qint64 pid)
{
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (cmdline.open(QIODevice::ReadOnly)) {
        const QByteArray first = cmdline.read(4096).split('\0').value(0);
        if (!first.isEmpty())
            return QFileInfo(QString::fromLocal8Bit(first)).fileName();
    }
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
}

// A running holder, by the name its lock gives or else its own; where none
// can be named, the port is busy.
OpenFailure heldBy(qint64 pid, const QString& program = {})
{
    if (pid <= 0)
        return failure(OpenFailure::Kind::Busy);
    return failure(OpenFailure::Kind::HeldBy, program.isEmpty() ? programOf(pid) : program, pid);
}

// Before Qt sees the lock: Qt takes a lock in the format of the other serial
// programs (minicom, cu: the pid in ten ASCII digits) for stale and deletes
// it. A lock of a running process other than this one refuses the port; one
// whose process is gone is removed, as Qt would.
bool checkLockFile(const QString& path, OpenFailure* why)
{
    const QString file = lockFileOf(path);
    QFile lock(file);
    if (file.isEmpty() || !lock.open(QIODevice::ReadOnly))
        return true; // none, or none to read: Qt's own locking says what is wrong
    const LockHolder holder = readLockFile(lock.read(4096));
    lock.close();
    if (holder.pid == qint64(::getpid()))
        return true;
    if (isRunning(holder.pid)) {
        *why = heldBy(holder.pid, holder.program);
        return false;
    }
    if (holder.pid > 0 && !QFile::remove(file) && QFile::exists(file)) {
        *why = failure(OpenFailure::Kind::StaleLock, file, holder.pid);
        return false;
    }
    return true;
}

// The port would not take its lock: who holds it, or what else stopped it.
OpenFailure lockFailure(const QString& path)
{
    const QString file = lockFileOf(path);
    if (file.isEmpty())
        return failure(OpenFailure::Kind::Other, QStringLiteral("no folder for lock files can be written"));
    QFile lock(file);
    if (!lock.open(QIODevice::ReadOnly)) {
        if (lock.exists())
            return failure(OpenFailure::Kind::Other, QStringLiteral("cannot read the lock file %1").arg(file));
        const QString folder = QFileInfo(file).path();
        return failure(OpenFailure::Kind::Other,
                       QStringLiteral("cannot create a lock file in %1: %2").arg(folder, qt_error_string(EACCES)));
    }
    const LockHolder holder = readLockFile(lock.read(4096));
    if (isRunning(holder.pid))
        return heldBy(holder.pid, holder.program);
    return failure(OpenFailure::Kind::StaleLock, file, holder.pid);
}

// The program holding a flock() on the device (picocom does), as
// /proc/locks names it; 0 if none is listed.
qint64 flockHolderOf(const struct stat& info)
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return 0;
    return flockHolder(locks.readAll(), ::major(info.st_dev), ::minor(info.st_dev), quint64(info.st_ino));
}

#endif

} // namespace

QtSerialDevice::QtSerialDevice(QObject* parent)
    : ReconnectingDevice(parent)
    , port_(std::make_unique<QSerialPort>())
{
    connect(port_.get(), &QSerialPort::readyRead, this, [this] { deliver(port_->readAll()); });
    connect(port_.get(), &QSerialPort::errorOccurred, this, [this] { onError(); });
}

QtSerialDevice::~QtSerialDevice()
{
    port_->disconnect(this);
    port_.reset();
    dropFlock();
}

bool QtSerialDevice::connectLine(OpenFailure* why)
{
    OpenFailure scratch;
    OpenFailure& reason = why ? *why : scratch;
    // A symlink and its target share one lock.
    const QString device = canonicalDevicePath(path());
#ifdef Q_OS_UNIX
    if (!checkDevice(device, &reason) || !checkLockFile(device, &reason) || !takeFlock(device, &reason))
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
        else if (text == qt_error_string(EPERM)) // not the file's mode: access() passed
            reason = failure(OpenFailure::Kind::DevicePolicy, deviceAllowOf(device));
        else
#endif
            reason = failure(OpenFailure::Kind::Other, text);
        dropFlock();
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
        dropFlock();
        return false;
    }
#ifdef Q_OS_UNIX
    ptyLink_.reset();
    if (isPty(device))
        ptyLink_ = linkStampOf(path());
#endif
    return true;
}

void QtSerialDevice::reconnectLine()
{
#ifdef Q_OS_UNIX
    // A bare /dev/pts/N, or a link its owner has not made again since: what
    // is there now is some other program's pty, or nothing.
    if (ptyLink_ && (!*ptyLink_ || linkStampOf(path()) == *ptyLink_))
        return;
#endif
    ReconnectingDevice::reconnectLine();
}

// Programs that lock the open device rather than a lock file (picocom), and
// root, whom exclusive mode does not stop: one program on a line at a time.
// The lock is taken on a descriptor of its own before Qt opens the port, so
// a port another program holds keeps the line settings that program set.
bool QtSerialDevice::takeFlock(const QString& device, OpenFailure* why)
{
#ifdef Q_OS_UNIX
    dropFlock();
    lockFd_ = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (lockFd_ < 0)
        return true; // Qt's own opening says what is wrong
    if (::flock(lockFd_, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK)
        return true;
    struct stat info {};
    *why = heldBy(::fstat(lockFd_, &info) == 0 ? flockHolderOf(info) : 0);
    dropFlock();
    return false;
#else
    Q_UNUSED(device);
    Q_UNUSED(why);
    return true;
#endif
}

void QtSerialDevice::dropFlock()
{
#ifdef Q_OS_UNIX
    if (lockFd_ >= 0)
        ::close(lockFd_);
#endif
    lockFd_ = -1;
}

void QtSerialDevice::disconnectLine()
{
    if (port_->isOpen())
        port_->close();
    port_->clearError();
    dropFlock(); // after the port: the last close is where the line's modem signals drop, as before
}

bool QtSerialDevice::applyLine(const LineSettings& settings)
{
    opening_ = true; // a refused setting is reported here, not as a lost device
    const bool ok = applyTo(*port_, settings);
    port_->clearError();
    opening_ = false;
    return ok;
}

qsizetype QtSerialDevice::waitingOut() const
{
    qsizetype waiting = port_->bytesToWrite();
#if defined(Q_OS_UNIX) && defined(TIOCOUTQ)
    int inDriver = 0; // a real port's own queue; a pty reports none
    if (::ioctl(int(port_->handle()), TIOCOUTQ, &inDriver) == 0)
        waiting += inDriver;
#endif
    return waiting;
}

void QtSerialDevice::discardLineInput()
{
    port_->clear(QSerialPort::Input); // the driver's queue too (tcflush)
    port_->readAll();
    port_->clearError();
}

bool QtSerialDevice::writeLine(const QByteArray& bytes)
{
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

void QtSerialDevice::onError()
{
    if (opening_ || !isLive() || !port_->isOpen() || port_->error() == QSerialPort::NoError)
        return;
    switch (port_->error()) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        if (hungUp())
            return lose(lossReason());
        break;
    default: break;
    }
    port_->clearError();
}

// Whether the device itself is gone. Qt also reports a read that found
// nothing, which happens when the input was just flushed (discardInput())
// after the read was announced; that is no loss.
bool QtSerialDevice::hungUp() const
{
#ifdef Q_OS_UNIX
    pollfd line{int(port_->handle()), POLLIN, 0};
    if (::poll(&line, 1, 0) < 0)
        return true;
    if (!(line.revents & (POLLHUP | POLLERR | POLLNVAL)))
        return false;
#endif
    return true;
}

// Qt's words for the error, or, where it has none ("Unknown error"), what the
// error means for a port that was open.
QString QtSerialDevice::lossReason() const
{
    const QString text = port_->errorString();
    if (!text.isEmpty() && text != QLatin1String("Unknown error"))
        return text;
    switch (port_->error()) {
    case QSerialPort::ResourceError:
        return QStringLiteral("the device went away (an adapter pulled out, or its far end closed)");
    case QSerialPort::ReadError: return QStringLiteral("the device cannot be read");
    case QSerialPort::WriteError: return QStringLiteral("the device cannot be written");
    default: return text;
    }
}

} // namespace orvik
