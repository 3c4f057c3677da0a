#pragma once

#include <optional>

class QString;

namespace orvik {

// The listening socket a socket unit handed over (LISTEN_FDS), if any. An
// error where systemd passed something that is not one Unix stream socket.
std::optional<int> socketFromSystemd(QString* error);

// Tells systemd that the service is ready (Type=notify); nothing elsewhere.
void tellSystemdReady();

} // namespace orvik
