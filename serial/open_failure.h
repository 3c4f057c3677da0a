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
        Other,        // `detail` is the true reason
    };
    Kind kind = Kind::Other;
    QString detail;
    qint64 pid = 0;
    QStringList ports;
};

// The warning for a port that failed to open: "COM1 (DEVICE): reason", then
// what to do next. `user` is the login name, for joining a group.
QString describeOpenFailure(int port, const QString& device, const OpenFailure& failure, const QString& user);

} // namespace orvik
