#include "gateway/systemd.h"

#include <QString>

#include <sys/socket.h>
#include <systemd/sd-daemon.h>

namespace orvik {

std::optional<int> socketFromSystemd(QString* error)
{
    // Taken once: the variables go, so that no child inherits them.
    const int count = sd_listen_fds(1);
    if (count <= 0)
        return std::nullopt;
    if (count > 1 || sd_is_socket_unix(SD_LISTEN_FDS_START, SOCK_STREAM, 1, nullptr, 0) <= 0) {
        *error = QStringLiteral("systemd passed %1 that is not one listening Unix stream socket; the socket unit "
                                "needs one ListenStream= with a path")
                     .arg(count > 1 ? QStringLiteral("%1 sockets").arg(count) : QStringLiteral("a socket"));
        return std::nullopt;
    }
    return SD_LISTEN_FDS_START;
}

void tellSystemdReady() { sd_notify(0, "READY=1"); }

} // namespace orvik
