#pragma once

#include <QString>

namespace orvik {

// Which device a port number stands for. COM1 is the device named by
// ORVIK_COM1, else /dev/ttyS0; COM2 is ORVIK_COM2, else /dev/ttyS1
// (on Windows COM1 and COM2 themselves).
QString devicePathForPort(int port);

// The path the port is locked and opened by: a symlink and its target must
// share one lock. A path that does not resolve is kept as it is.
QString canonicalDevicePath(const QString& path);

} // namespace orvik
