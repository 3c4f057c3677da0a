#include "link/open_failure.h"

namespace orvik {

QString loginName()
{
    const QString user = qEnvironmentVariable("USER");
    return user.isEmpty() ? qEnvironmentVariable("LOGNAME") : user;
}

QString describeOpenFailure(int port, const QString& device, const OpenFailure& f, const QString& user)
{
    return describeOpenFailure(QStringLiteral("COM%1").arg(port),
                               QStringLiteral("--com%1 DEVICE or ORVIK_COM%1=DEVICE").arg(port), device, f, user);
}

QString describeOpenFailure(const QString& name, const QString& choose, const QString& device, const OpenFailure& f,
                            const QString& user)
{
    const QString head = name == device ? device + QStringLiteral(": ") : QStringLiteral("%1 (%2): ").arg(name, device);
    return head + openFailureReason(choose, f, user);
}

QString openFailureReason(const QString& choose, const OpenFailure& f, const QString& user)
{
    using Kind = OpenFailure::Kind;
    switch (f.kind) {
    case Kind::Missing: {
        // The system's own words where it gave them.
        const QString missing = f.detail.isEmpty() ? QStringLiteral("No such file or directory.") : f.detail;
        if (f.ports.isEmpty())
            return missing
                   + QStringLiteral(" No serial ports found: plug in the adapter, or choose a device with %1.")
                         .arg(choose);
        return missing
               + QStringLiteral(" Serial ports found: %1. Choose one with %2.")
                     .arg(f.ports.join(QStringLiteral(", ")), choose);
    }
    case Kind::NoPermission:
        if (f.detail.isEmpty())
            return QStringLiteral("Permission denied. Only its owner may use the device: ask an "
                                  "administrator for access.");
        return QStringLiteral("Permission denied. The device belongs to the group %1: join it with "
                              "\"sudo usermod -aG %1 %2\", then log out and back in.")
            .arg(f.detail, user.isEmpty() ? QStringLiteral("$USER") : user);
    case Kind::HeldBy:
        return (f.detail.isEmpty() ? QStringLiteral("in use by process %1.").arg(f.pid)
                                   : QStringLiteral("in use by %1 (process %2).").arg(f.detail).arg(f.pid))
               + QStringLiteral(" Close that program, or choose another port.");
    case Kind::StaleLock:
        return QStringLiteral("locked by process %1, which has ended, and its lock file %2 cannot be "
                              "removed. Ask an administrator to delete that file.")
            .arg(f.pid)
            .arg(f.detail);
    case Kind::Busy:
        return QStringLiteral("busy: another program has it open. Close that program, or choose "
                              "another port.");
    case Kind::NotSerial: return QStringLiteral("is not a serial port. Choose a serial device with %1.").arg(choose);
    case Kind::DevicePolicy:
        return QStringLiteral("Operation not permitted by the device policy of the unit that runs this program "
                              "(systemd's DevicePolicy=). Add \"DeviceAllow=%1 rw\" to the unit (sudo systemctl "
                              "edit UNIT), then restart it.")
            .arg(f.detail);
    case Kind::Other: break;
    }
    return f.detail;
}

} // namespace orvik
