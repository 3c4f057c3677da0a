#pragma once

#include <QList>
#include <QString>

#include <optional>
#include <variant>

namespace orvik {

// A projector's port: its name and its device (a path, COM1, COM2,
// rfc2217://HOST:PORT or tcp://HOST:PORT).
struct NamedPort {
    QString name;
    QString device;
    int line = 0; // in the ports file; 0 from the command line
    // Where the gateway serves it as a PJLink projector, as written after
    // "pjlink=": [HOST][:PORT], perhaps empty. Others ignore it.
    std::optional<QString> pjlink;
};

// A ports file: one "NAME DEVICE [pjlink=[HOST][:PORT]]" a line, with #
// comments and blank lines. A bad line, or a name or a device used twice,
// gives the reason with its line number.
std::variant<QList<NamedPort>, QString> readPortsFile(const QString& path);
std::variant<QList<NamedPort>, QString> parsePorts(const QByteArray& text);

// COM1 and COM2 as the panel chooses them (ORVIK_COM1/ORVIK_COM2, then this
// machine's ports); other devices stay as they are.
void resolveComPorts(QList<NamedPort>& ports);

} // namespace orvik
