#pragma once

#include <QString>
#include <QStringList>

namespace orvik {

// Why a device could not be opened, with what the user needs to put it right.
struct OpenFailure {
    enum class Kind {
        Missing,      // no such device; `ports` lists the serial ports found
        NoPermission, // `detail` is the group that may use the device, if any
        HeldBy,       // locked by a running program: `detail` its name, `pid`
        StaleLock,    // locked by `pid`, which has ended; `detail` the lock file
        Busy,         // opened exclusively elsewhere
        NotSerial,    // a file, folder, FIFO, /dev/null, /dev/ptmx, /dev/tty...
        DevicePolicy, // refused by a device policy (systemd's DevicePolicy=): `detail` as DeviceAllow= names it
        Other,        // `detail` is the true reason
    };
    Kind kind = Kind::Other;
    QString detail;
    qint64 pid = 0;
    QStringList ports;
};

// The warning for a port that failed to open: "NAME (DEVICE): reason", then
// what to do next. `choose` says how to name another device; `user` is the
// login name, for joining a group (see loginName()).
QString describeOpenFailure(const QString& name, const QString& choose, const QString& device,
                            const OpenFailure& failure, const QString& user);
// The same without "NAME (DEVICE): ", for a text that names the port itself.
QString openFailureReason(const QString& choose, const OpenFailure& failure, const QString& user);
// The panel's: "COM1 (DEVICE): ...", another device by --com1 or ORVIK_COM1.
QString describeOpenFailure(int port, const QString& device, const OpenFailure& failure, const QString& user);
QString loginName();

} // namespace orvik
