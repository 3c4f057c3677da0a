#include "core/exit_signals.h"

#include <QCoreApplication>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace orvik {
namespace {

bool ended = false;

} // namespace

bool terminationRequested() { return ended; }

#ifdef Q_OS_UNIX
namespace {

int writeEnd = -1;

void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(writeEnd, &byte, 1); // async-signal-safe
    errno = saved;
}

} // namespace

void quitOnTerminationSignals()
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return;
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    writeEnd = fds[1];
    auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [fd = fds[0]] {
        char buffer[16];
        while (::read(fd, buffer, sizeof buffer) > 0) {}
        ended = true;
        QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}
#else
void quitOnTerminationSignals() {}
#endif

} // namespace orvik
