#include "headless/ports_file.h"

#include "link/port_map.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace orvik {
namespace {

constexpr QLatin1StringView kPjlinkField("pjlink=");

} // namespace

std::variant<QList<NamedPort>, QString> readPortsFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    auto parsed = parsePorts(file.readAll());
    if (const QString* error = std::get_if<QString>(&parsed))
        return QStringLiteral("%1:%2").arg(path, *error);
    return parsed;
}

void resolveComPorts(QList<NamedPort>& ports)
{
    const auto isCom = [](const NamedPort& port) { return port.device == u"COM1" || port.device == u"COM2"; };
    if (std::none_of(ports.begin(), ports.end(), isCom))
        return; // the machine's ports are looked for only when a name needs them
    const auto com = choosePorts(portSourcesOf());
    for (NamedPort& port : ports)
        if (isCom(port))
            port.device = com.at(port.device == u"COM2");
}

std::variant<QList<NamedPort>, QString> parsePorts(const QByteArray& text)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    QList<NamedPort> ports;
    QSet<QString> names;
    QHash<QString, qsizetype> devices; // each device's place in `ports`
    int number = 0;
    for (const QByteArray& raw : text.split('\n')) {
        ++number;
        QString line = QString::fromUtf8(raw);
        if (const qsizetype hash = line.indexOf(u'#'); hash >= 0)
            line.truncate(hash);
        const QStringList fields = line.split(blanks, Qt::SkipEmptyParts);
        if (fields.isEmpty())
            continue;
        std::optional<QString> pjlink;
        if (fields.size() == 3 && fields[2].startsWith(kPjlinkField))
            pjlink = fields[2].mid(kPjlinkField.size());
        else if (fields.size() != 2)
            return QStringLiteral("%1: expected NAME DEVICE [pjlink=[HOST][:PORT]], found '%2'")
                .arg(number)
                .arg(line.trimmed());
        if (names.contains(fields[0]))
            return QStringLiteral("%1: the name %2 is used twice").arg(number).arg(fields[0]);
        names.insert(fields[0]);
        // One line holds one program at a time: a device named twice would
        // be refused to the program by itself.
        if (const auto earlier = devices.constFind(fields[1]); earlier != devices.cend())
            return QStringLiteral("%1: the device %2 is named twice: %3 on line %4 and %5")
                .arg(number)
                .arg(fields[1], ports.at(*earlier).name)
                .arg(ports.at(*earlier).line)
                .arg(fields[0]);
        devices.insert(fields[1], ports.size());
        ports.append({fields[0], fields[1], number, pjlink});
    }
    return ports;
}

} // namespace orvik
