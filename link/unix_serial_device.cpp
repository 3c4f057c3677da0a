#include "link/unix_serial_device.h"

#include "link/custom_baud.h"
#include "link/lock_file.h"
#include "link/port_map.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QSysInfo>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <utility>

namespace orvik {
namespace {

// The speeds termios names; any other is set as a number where the system
// can (custom_baud.h).
constexpr std::array<std::pair<int, speed_t>, 11> kSpeeds = {{
    {110, B110},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
}};

// Raw bytes both ways, no flow control, the receiver on, modem lines
// ignored; a read takes what is there and never waits.
bool applyTo(int fd, const LineSettings& s)
{
    if (s.dataBits < 5 || s.stopBits == StopBits::OneAndHalf) // termios has neither
        return false;
#ifndef CMSPAR // mark and space parity: Linux only
    constexpr tcflag_t CMSPAR = 0;
    if (s.parity == Parity::Mark || s.parity == Parity::Space)
        return false;
#endif
    termios line{};
    if (::tcgetattr(fd, &line) != 0)
        return false;
    ::cfmakeraw(&line);
    line.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | PARMRK);
    line.c_iflag |= IGNPAR;
    line.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS | CMSPAR);
    line.c_cflag |= CLOCAL | CREAD;
    constexpr std::array<tcflag_t, 4> kSizes = {CS5, CS6, CS7, CS8};
    line.c_cflag |= kSizes[std::size_t(s.dataBits - 5)];
    if (s.stopBits == StopBits::Two)
        line.c_cflag |= CSTOPB;
    switch (s.parity) {
    case Parity::None: break;
    case Parity::Even: line.c_cflag |= PARENB; break;
    case Parity::Odd: line.c_cflag |= PARENB | PARODD; break;
    case Parity::Mark: line.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case Parity::Space: line.c_cflag |= PARENB | CMSPAR; break;
    }
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    const auto* named = std::find_if(kSpeeds.begin(), kSpeeds.end(), [&](const auto& p) { return p.first == s.baud; });
    const speed_t speed = named != kSpeeds.end() ? named->second : B38400;
    if (::cfsetispeed(&line, speed) != 0 || ::cfsetospeed(&line, speed) != 0 || ::tcsetattr(fd, TCSANOW, &line) != 0)
        return false;
    return named != kSpeeds.end() || setCustomBaud(fd, s.baud);
}

int retrying(auto call)
{
    int result = 0;
    do
        result = int(call());
    while (result < 0 && errno == EINTR);
    return result;
}

OpenFailure failure(OpenFailure::Kind kind, QString detail = {}, qint64 pid = 0)
{
    return {kind, std::move(detail), pid, {}};
}

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
std::optional<UnixSerialDevice::LinkStamp> linkStampOf(const QString& path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISLNK(info.st_mode))
        return std::nullopt;
    return UnixSerialDevice::LinkStamp{quint64(info.st_dev), quint64(info.st_ino),
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

// Where a device's lock lives: the first of the serial programs' folders
// that holds it or can take it, in the order Qt's serial port looks (a Qt
// program on the same port then sees our lock).
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

// A lock of a running process other than this one refuses the port; one
// whose process is gone is removed, as the other serial programs do.
bool checkLockFile(const QString& path, OpenFailure* why)
{
    const QString file = lockFileOf(path);
    QFile lock(file);
    if (file.isEmpty() || !lock.open(QIODevice::ReadOnly))
        return true; // none, or none to read: taking the lock says what is wrong
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

// The lock file could not be made: who holds it, or what else stopped it.
OpenFailure lockFailure(const QString& file, int error)
{
    QFile lock(file);
    if (!lock.open(QIODevice::ReadOnly)) {
        if (lock.exists())
            return failure(OpenFailure::Kind::Other, QStringLiteral("cannot read the lock file %1").arg(file));
        const QString folder = QFileInfo(file).path();
        return failure(OpenFailure::Kind::Other,
                       QStringLiteral("cannot create a lock file in %1: %2").arg(folder, qt_error_string(error)));
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

// What a lock file says: this process, by the name and host a Qt program
// also writes, so that one of those does not take it for stale. The pid
// leads, as the other serial programs read it.
QByteArray lockContent()
{
    static const QByteArray content = QByteArray::number(qint64(::getpid())) + '\n'
                                      + QCoreApplication::applicationName().toUtf8() + '\n'
                                      + QSysInfo::machineHostName().toUtf8() + '\n';
    return content;
}

// Made only where there is none. Not synced: /run/lock does not outlive a
// boot, and a sync for each of a thousand ports costs seconds.
bool makeLockFile(const QString& file, OpenFailure* why)
{
    const QByteArray name = QFile::encodeName(file);
    const int fd =
        retrying([&] { return ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644); });
    if (fd < 0) {
        *why = lockFailure(file, errno);
        return false;
    }
    const QByteArray content = lockContent();
    const bool written =
        retrying([&] { return ::write(fd, content.constData(), size_t(content.size())); }) == int(content.size());
    const int error = errno;
    ::close(fd);
    if (!written) {
        ::unlink(name.constData());
        *why = failure(OpenFailure::Kind::Other,
                       QStringLiteral("cannot write the lock file %1: %2").arg(file, qt_error_string(error)));
    }
    return written;
}

// Why the device would not open.
OpenFailure openFailure(const QString& device, int error)
{
    switch (error) {
    case ENOENT:
    case ENODEV: return missing();
    case EBUSY: return failure(OpenFailure::Kind::Busy);
    case EPERM: return failure(OpenFailure::Kind::DevicePolicy, deviceAllowOf(device)); // access() passed
    default: return failure(OpenFailure::Kind::Other, qt_error_string(error));
    }
}

bool hungUp(int fd)
{
    pollfd line{fd, POLLIN, 0};
    return ::poll(&line, 1, 0) < 0 || (line.revents & (POLLHUP | POLLERR | POLLNVAL));
}

} // namespace

UnixSerialDevice::UnixSerialDevice(QObject* parent)
    : ReconnectingDevice(parent)
{
}

UnixSerialDevice::~UnixSerialDevice() { release(); }

bool UnixSerialDevice::connectLine(OpenFailure* why)
{
    OpenFailure scratch;
    OpenFailure& reason = why ? *why : scratch;
    release();
    // A symlink and its target share one lock.
    const QString device = canonicalDevicePath(path());
    if (!checkDevice(device, &reason) || !checkLockFile(device, &reason) || !openDevice(device, &reason)) {
        release();
        return false;
    }
    ptyLink_.reset();
    if (isPty(device))
        ptyLink_ = linkStampOf(path());
    reader_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(reader_, &QSocketNotifier::activated, this, &UnixSerialDevice::readAvailable);
    return true;
}

// In this order, so that a port another program holds is left as it is: its
// lock file and its flock() refuse us before any setting is touched.
bool UnixSerialDevice::openDevice(const QString& device, OpenFailure* why)
{
    const QByteArray name = QFile::encodeName(device);
    fd_ = retrying([&] { return ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd_ < 0) {
        *why = openFailure(device, errno);
        return false;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        struct stat info {};
        *why = heldBy(::fstat(fd_, &info) == 0 ? flockHolderOf(info) : 0);
        return false;
    }
    const QString file = lockFileOf(device);
    if (file.isEmpty()) {
        *why = failure(OpenFailure::Kind::Other, QStringLiteral("no folder for lock files can be written"));
        return false;
    }
    if (!makeLockFile(file, why))
        return false;
    lockFile_ = file;
    if (::ioctl(fd_, TIOCEXCL) != 0) {
        *why = failure(OpenFailure::Kind::Other, qt_error_string(errno));
        return false;
    }
    if (!applyTo(fd_, settings())) {
        *why = failure(OpenFailure::Kind::Other, QStringLiteral("the device does not take these line settings"));
        return false;
    }
    // Modem lines: on a pty these fail with "Inappropriate ioctl for
    // device", which is no reason to refuse the port.
    const int dtr = TIOCM_DTR;
    const int rts = TIOCM_RTS;
    ::ioctl(fd_, TIOCMBIS, &dtr);
    ::ioctl(fd_, TIOCMBIC, &rts);
    return true;
}

void UnixSerialDevice::reconnectLine()
{
    // A bare /dev/pts/N, or a link its owner has not made again since: what
    // is there now is some other program's pty, or nothing.
    if (ptyLink_ && (!*ptyLink_ || linkStampOf(path()) == *ptyLink_))
        return;
    ReconnectingDevice::reconnectLine();
}

void UnixSerialDevice::release()
{
    // Later: a notifier may be the one whose signal got us here. Before the
    // descriptor closes, so that the loop stops watching it first.
    for (QSocketNotifier* notifier : {std::exchange(reader_, nullptr), std::exchange(writer_, nullptr)}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    pending_.clear();
    if (fd_ >= 0) {
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_); // the last close drops the modem lines, and the flock()
        fd_ = -1;
    }
    if (!lockFile_.isEmpty())
        ::unlink(QFile::encodeName(lockFile_).constData());
    lockFile_.clear();
}

void UnixSerialDevice::disconnectLine() { release(); }

bool UnixSerialDevice::applyLine(const LineSettings& settings) { return applyTo(fd_, settings); }

qsizetype UnixSerialDevice::waitingOut() const
{
    int inDriver = 0; // a real port's own queue; a pty reports none
    return pending_.size() + (::ioctl(fd_, TIOCOUTQ, &inDriver) == 0 ? inDriver : 0);
}

void UnixSerialDevice::discardLineInput()
{
    if (fd_ >= 0)
        ::tcflush(fd_, TCIFLUSH);
}

// Straight to the device, so the frame is on the line now rather than at the
// next turn of the event loop; never waiting for it to drain (tcdrain), which
// would hold the panel for the frame's time on the line.
bool UnixSerialDevice::writeLine(const QByteArray& bytes)
{
    if (fd_ < 0)
        return false;
    qsizetype done = 0;
    if (pending_.isEmpty()) { // nothing queued that must go first
        const int n = retrying([&] { return ::write(fd_, bytes.constData(), size_t(bytes.size())); });
        if (n < 0 && errno != EAGAIN) {
            fail(errno);
            return false;
        }
        done = std::max(n, 0);
    }
    if (done == bytes.size())
        return true;
    // What the device would not take now goes out as it makes room.
    pending_ += bytes.mid(done);
    if (!writer_) {
        writer_ = new QSocketNotifier(fd_, QSocketNotifier::Write, this);
        connect(writer_, &QSocketNotifier::activated, this, &UnixSerialDevice::writePending);
    }
    writer_->setEnabled(true);
    return true;
}

void UnixSerialDevice::writePending()
{
    const int n = retrying([&] { return ::write(fd_, pending_.constData(), size_t(pending_.size())); });
    if (n < 0 && errno != EAGAIN)
        return fail(errno);
    pending_.remove(0, std::max(n, 0));
    if (pending_.isEmpty())
        writer_->setEnabled(false);
}

// Everything there in one call, as a rule: a reply is a few bytes.
void UnixSerialDevice::readAvailable()
{
    std::array<char, 4096> buffer;
    for (;;) {
        const int n = retrying([&] { return ::read(fd_, buffer.data(), buffer.size()); });
        if (n > 0)
            deliver(QByteArray(buffer.data(), n)); // may close the port
        if (n < 0 && errno != EAGAIN)
            return fail(errno);
        // Nothing, where something was announced: a line that hung up (a
        // read announced and then flushed away is none).
        if (n == 0 && hungUp(fd_))
            return fail(EIO);
        if (n < int(buffer.size()) || fd_ < 0)
            return;
    }
}

// Closed at once (lose() disconnects): a gone device would otherwise be
// reported on every turn of the loop.
void UnixSerialDevice::fail(int error)
{
    const bool gone = error == EIO || error == ENXIO || error == ENODEV;
    lose(gone ? QStringLiteral("the device went away (an adapter pulled out, or its far end closed)")
              : qt_error_string(error));
}

} // namespace orvik
