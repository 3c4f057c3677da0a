#pragma once

namespace orvik {

// Sets a speed that termios has no name for (14400, 28800, 56000 ...) on an
// open terminal line; false where the system or the device cannot.
bool setCustomBaud(int fd, int baud);

} // namespace orvik
