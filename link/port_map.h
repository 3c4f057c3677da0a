#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>

namespace orvik {

// A serial port the machine has: its name ("ttyUSB0") and device path.
struct PortDescription {
    QString name;
    QString path;
};

// The ports in a stable order: on-board UARTs (ttyS*) first, then USB
// adapters (ttyUSB*, ttyACM*), then the rest; numerically within each group,
// so ttyUSB2 comes before ttyUSB10. Gives their paths.
QStringList orderedPorts(QList<PortDescription> ports);

// Where the devices of COM1 and COM2 can come from, most binding first.
struct PortSources {
    std::array<QString, 2> commandLine; // --com1, --com2; empty when not given
    std::array<QString, 2> environment; // ORVIK_COM1, ORVIK_COM2
    QStringList available;              // orderedPorts() of the machine
};

// The device of each port, first match wins: the command line, the
// environment, the first (COM1) or second (COM2) port the machine has, and
// on a machine with none /dev/ttyS0 and /dev/ttyS1 (COM1 and COM2 on
// Windows), so that a warning names a device.
std::array<QString, 2> choosePorts(const PortSources& sources);

// The sources as they stand: the given command line, ORVIK_COM1 and
// ORVIK_COM2, and this machine's ports.
PortSources portSourcesOf(std::array<QString, 2> commandLine = {});

// The serial ports this machine has (UART slots without hardware left out).
QList<PortDescription> serialPortsOfThisMachine();

// A device path given as bytes (the command line, the environment). A name
// that is not valid UTF-8 cannot travel as text, so it is resolved to the
// device it leads to (a symlink's target is a plain /dev path).
QString devicePathFromBytes(const QByteArray& bytes);

// The path the port is locked and opened by: a symlink and its target must
// share one lock. A path that does not resolve is kept as it is.
QString canonicalDevicePath(const QString& path);
// Whether a path names a pty by its number (/dev/pts/N, not a link to it):
// the number goes to whichever program asks next, so such a path is never
// opened again once it failed or was lost.
bool namesPtyByNumber(const QString& path);

} // namespace orvik
