#include "core/process_limits.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace orvik {

std::optional<QString> raiseOpenFilesLimit(std::size_t needed)
{
#ifdef Q_OS_UNIX
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return std::nullopt;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_max != RLIM_INFINITY && needed > limit.rlim_max)
        return QStringLiteral("this needs about %1 open files, and their hard limit (RLIMIT_NOFILE, 'ulimit -Hn') "
                              "is %2: raise it (LimitNOFILE= in a systemd unit, 'nofile' in "
                              "/etc/security/limits.conf)")
            .arg(needed)
            .arg(quint64(limit.rlim_max));
#else
    Q_UNUSED(needed);
#endif
    return std::nullopt;
}

} // namespace orvik
