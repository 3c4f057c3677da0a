#include "serial/port_map.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cstdlib>
#include <tuple>

namespace orvik {
namespace {

// Group, number and name: the sort key of a port.
std::tuple<int, qulonglong, QString> orderOf(const PortDescription& port)
{
    const QString& name = port.name;
    qsizetype digits = name.size();
    while (digits > 0 && name.at(digits - 1).isDigit())
        --digits;
    const QStringView stem = QStringView(name).left(digits);
    const int group = stem == u"ttyS" ? 0 : (stem == u"ttyUSB" || stem == u"ttyACM") ? 1 : 2;
    const qulonglong number = digits < name.size() ? QStringView(name).mid(digits).toULongLong() : 0;
    return {group, number, name};
}

} // namespace

QStringList orderedPorts(QList<PortDescription> ports)
{
    std::stable_sort(ports.begin(), ports.end(),
                     [](const PortDescription& a, const PortDescription& b) { return orderOf(a) < orderOf(b); });
    QStringList paths;
    for (const PortDescription& port : ports)
        paths.append(port.path);
    return paths;
}

std::array<QString, 2> choosePorts(const PortSources& sources)
{
    std::array<QString, 2> chosen;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        if (!sources.commandLine[i].isEmpty())
            chosen[i] = sources.commandLine[i];
        else if (!sources.environment[i].isEmpty())
            chosen[i] = sources.environment[i];
        else if (qsizetype(i) < sources.available.size())
            chosen[i] = sources.available[qsizetype(i)];
        else
#ifdef Q_OS_WIN
            chosen[i] = QStringLiteral("COM%1").arg(i + 1);
#else
            chosen[i] = QStringLiteral("/dev/ttyS%1").arg(i);
#endif
    }
    return chosen;
}

QList<PortDescription> serialPortsOfThisMachine()
{
    // Qt leaves out the on-board UART slots that report no hardware.
    QList<PortDescription> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        ports.append({info.portName(), info.systemLocation()});
    return ports;
}

QString devicePathFromBytes(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    if (!decoder.hasError())
        return text;
#ifdef Q_OS_UNIX
    if (char* resolved = ::realpath(bytes.constData(), nullptr)) {
        const QString target = QString::fromUtf8(resolved);
        std::free(resolved);
        return target;
    }
#endif
    return text;
}

QString canonicalDevicePath(const QString& path)
{
#ifdef Q_OS_WIN
    return path;
#else
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
#endif
}

} // namespace orvik
