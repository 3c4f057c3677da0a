#include "link/port_map.h"

#include <QFileInfo>
#include <QRegularExpression>
#ifdef Q_OS_WIN
#include <QSettings>
#else
#include <QSerialPortInfo>
#endif
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
#ifndef Q_OS_WIN
        else if (qsizetype(i) < sources.available.size())
            chosen[i] = sources.available[qsizetype(i)];
#endif
#ifdef Q_OS_WIN
        else // the system's own COM1 and COM2, whatever else there is
            chosen[i] = QStringLiteral("COM%1").arg(i + 1);
        // The device namespace reaches COM10 and above too.
        static const QRegularExpression comName(QStringLiteral("^COM[0-9]+$"),
                                                QRegularExpression::CaseInsensitiveOption);
        if (comName.match(chosen[i]).hasMatch())
            chosen[i] = QStringLiteral("\\\\.\\") + chosen[i].toUpper();
#else
        else
            chosen[i] = QStringLiteral("/dev/ttyS%1").arg(i);
#endif
    }
    return chosen;
}

PortSources portSourcesOf(std::array<QString, 2> commandLine)
{
    return {std::move(commandLine),
            {devicePathFromBytes(qgetenv("ORVIK_COM1")), devicePathFromBytes(qgetenv("ORVIK_COM2"))},
            orderedPorts(serialPortsOfThisMachine())};
}

QList<PortDescription> serialPortsOfThisMachine()
{
    QList<PortDescription> ports;
#ifdef Q_OS_WIN
    // Where Windows lists the serial ports it has.
    const QSettings map(QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM"), QSettings::NativeFormat);
    for (const QString& key : map.allKeys()) {
        const QString name = map.value(key).toString();
        if (!name.isEmpty())
            ports.append({name, name});
    }
#else
    // Qt leaves out the on-board UART slots that report no hardware.
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        ports.append({info.portName(), info.systemLocation()});
#endif
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

bool namesPtyByNumber(const QString& path)
{
    return path.startsWith(QLatin1String("/dev/pts/")) && !QFileInfo(path).isSymLink();
}

} // namespace orvik
