#include "serial/port_map.h"

#include <QFileInfo>
#include <QtGlobal>

namespace orvik {

QString devicePathForPort(int port)
{
    const QByteArray variable = "ORVIK_COM" + QByteArray::number(port);
    const QString configured = qEnvironmentVariable(variable.constData());
    if (!configured.isEmpty())
        return configured;
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

QString canonicalDevicePath(const QString& path)
{
#ifdef Q_OS_WIN
    return path;
#endif
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

} // namespace orvik
