#pragma once

#include <QByteArray>
#include <QString>

namespace orvik {

// Who a serial port's lock file in /run/lock names.
struct LockHolder {
    qint64 pid = 0;  // 0: none could be read
    QString program; // where the file names it (Qt's format)
};

// Reads the three formats in use: the FHS/HDB one (the pid in ten ASCII
// digits and a newline: minicom, cu and the other serial programs), the
// older binary one (the pid as a 4-byte integer), and Qt's (the pid, the
// program, the host, a line each).
LockHolder readLockFile(const QByteArray& content);

// The process holding a flock() on the file at device major:minor and inode,
// as /proc/locks lists it; 0 if none is listed.
qint64 flockHolder(const QByteArray& procLocks, unsigned major, unsigned minor, quint64 inode);

} // namespace orvik
