#include "core/event_dispatcher.h"

#include "core/logging.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimerEvent>

#include <algorithm>
#include <array>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstdint>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#endif

namespace orvik {

#ifdef Q_OS_LINUX

namespace {

// Ready descriptors taken from the kernel at once; more wait for the next turn.
constexpr int kBatch = 256;

void fatalUnless(bool ok, const char* call)
{
    if (!ok)
        qFatal("%s: %s", call, qPrintable(qt_error_string(errno)));
}

} // namespace

EpollEventDispatcher::EpollEventDispatcher(QObject* parent)
    : QAbstractEventDispatcher(parent)
    , epollFd_(::epoll_create1(EPOLL_CLOEXEC))
    , wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    fatalUnless(epollFd_ >= 0, "epoll_create1");
    fatalUnless(wakeFd_ >= 0, "eventfd");
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = wakeFd_;
    fatalUnless(::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &event) == 0, "epoll_ctl");
}

EpollEventDispatcher::~EpollEventDispatcher()
{
    ::close(wakeFd_);
    ::close(epollFd_);
}

bool EpollEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags)
{
    interrupted_.store(false);
    wakeUpPending_.store(false); // a wake-up from now on writes the eventfd again
    emit awake();
    QCoreApplication::sendPostedEvents();

    const bool includeTimers = !(flags & QEventLoop::X11ExcludeTimers);
    const bool includeNotifiers = !(flags & QEventLoop::ExcludeSocketNotifiers);
    const bool canWait = (flags & QEventLoop::WaitForMoreEvents) && alwaysReady_.empty() && !interrupted_.load();
    if (canWait)
        emit aboutToBlock();
    if (interrupted_.load())
        return false;

    const int timeout = canWait ? waitMilliseconds(includeTimers) : 0;
    std::array<epoll_event, kBatch> events;
    const int ready = ::epoll_wait(epollFd_, events.data(), kBatch, timeout);
    if (ready < 0 && errno != EINTR)
        qCWarning(lcLoop, "epoll_wait: %s", qPrintable(qt_error_string(errno)));

    int activated = 0;
    for (int i = 0; i < std::max(ready, 0); ++i) {
        const epoll_event& event = events[std::size_t(i)];
        if (event.data.fd == wakeFd_) {
            drainWakeUps();
            ++activated;
            continue;
        }
        const auto it = watched_.find(event.data.fd);
        if (it == watched_.end() || !includeNotifiers) // level-triggered: told again next turn
            continue;
        const Watched& w = it->second;
        const auto mark = [this](QSocketNotifier* notifier, bool on) {
            if (notifier && on && std::find(pending_.begin(), pending_.end(), notifier) == pending_.end())
                pending_.push_back(notifier);
        };
        const std::uint32_t broken = EPOLLHUP | EPOLLERR;
        mark(w.read, event.events & (EPOLLIN | broken));
        mark(w.write, event.events & (EPOLLOUT | broken));
        mark(w.exception, event.events & (EPOLLPRI | broken));
    }
    if (includeNotifiers) {
        for (const int fd : alwaysReady_) {
            const Watched& w = watched_.at(fd);
            for (QSocketNotifier* notifier : {w.read, w.write})
                if (notifier && std::find(pending_.begin(), pending_.end(), notifier) == pending_.end())
                    pending_.push_back(notifier);
        }
        activated += activateNotifiers();
    }
    if (includeTimers)
        activated += activateTimers();
    return activated > 0;
}

int EpollEventDispatcher::activateNotifiers()
{
    int activated = 0;
    // A handler may disable or delete any notifier, the pending ones too:
    // each is taken off the list before it is told, and unregistering takes
    // it off as well.
    while (!pending_.empty()) {
        QSocketNotifier* notifier = pending_.front();
        pending_.erase(pending_.begin());
        QEvent event(QEvent::SockAct);
        QCoreApplication::sendEvent(notifier, &event);
        ++activated;
    }
    return activated;
}

int EpollEventDispatcher::activateTimers()
{
    const Steady::time_point now = Steady::now();
    std::vector<int> due;
    for (auto it = deadlines_.begin(); it != deadlines_.end() && it->first <= now; ++it)
        due.push_back(it->second);
    int fired = 0;
    for (const int id : due) {
        auto it = timers_.find(id);
        // Gone, started again, or already in its handler further up.
        if (it == timers_.end() || it->second.deadline > now || it->second.firing)
            continue;
        Timer& timer = it->second;
        deadlines_.erase({timer.deadline, id});
        timer.deadline += timer.interval;
        if (timer.deadline < now) // late: the next one a whole period on, as Qt's timers do
            timer.deadline = now + timer.interval;
        deadlines_.insert({timer.deadline, id});
        timer.firing = true;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(timer.object, &event);
        ++fired;
        if (const auto after = timers_.find(id); after != timers_.end())
            after->second.firing = false;
    }
    return fired;
}

int EpollEventDispatcher::waitMilliseconds(bool includeTimers) const
{
    if (!includeTimers || deadlines_.empty())
        return -1;
    // Rounded up: the kernel never wakes us before the first deadline.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadlines_.begin()->first - Steady::now());
    return int(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, 24 * 3600 * 1000));
}

void EpollEventDispatcher::drainWakeUps()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(wakeFd_, &count, sizeof count);
}

void EpollEventDispatcher::wakeUp()
{
    if (!wakeUpPending_.exchange(true)) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto put = ::write(wakeFd_, &one, sizeof one);
    }
}

void EpollEventDispatcher::interrupt()
{
    interrupted_.store(true);
    wakeUp();
}

void EpollEventDispatcher::registerSocketNotifier(QSocketNotifier* notifier)
{
    const int fd = int(notifier->socket());
    Watched& w = watched_[fd];
    switch (notifier->type()) {
    case QSocketNotifier::Read: w.read = notifier; break;
    case QSocketNotifier::Write: w.write = notifier; break;
    case QSocketNotifier::Exception: w.exception = notifier; break;
    }
    watch(fd, w);
}

void EpollEventDispatcher::unregisterSocketNotifier(QSocketNotifier* notifier)
{
    pending_.erase(std::remove(pending_.begin(), pending_.end(), notifier), pending_.end());
    const int fd = int(notifier->socket());
    const auto it = watched_.find(fd);
    if (it == watched_.end())
        return;
    Watched& w = it->second;
    for (QSocketNotifier** slot : {&w.read, &w.write, &w.exception})
        if (*slot == notifier)
            *slot = nullptr;
    watch(fd, w);
    if (!w.read && !w.write && !w.exception)
        watched_.erase(it);
}

void EpollEventDispatcher::watch(int fd, Watched& w)
{
    const std::uint32_t wanted = (w.read ? EPOLLIN : 0u) | (w.write ? EPOLLOUT : 0u) | (w.exception ? EPOLLPRI : 0u);
    if (w.alwaysReady) {
        if (!wanted)
            alwaysReady_.erase(std::remove(alwaysReady_.begin(), alwaysReady_.end(), fd), alwaysReady_.end());
        return;
    }
    epoll_event event{};
    event.events = wanted;
    event.data.fd = fd;
    if (!wanted) {
        // Already closed is fine: the kernel forgot it with its last descriptor.
        if (w.inKernel)
            ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
        w.inKernel = false;
        return;
    }
    // The number may have been closed and given to a new file meanwhile.
    int done = ::epoll_ctl(epollFd_, w.inKernel ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &event);
    if (done != 0 && errno == ENOENT)
        done = ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event);
    else if (done != 0 && errno == EEXIST)
        done = ::epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd, &event);
    if (done == 0) {
        w.inKernel = true;
    } else if (errno == EPERM) {
        // A regular file: always ready, as poll() says.
        w.alwaysReady = true;
        alwaysReady_.push_back(fd);
    } else {
        qCWarning(lcLoop, "cannot watch descriptor %d: %s", fd, qPrintable(qt_error_string(errno)));
    }
}

void EpollEventDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject* object)
{
    const std::chrono::milliseconds period(std::max<qint64>(interval, 0));
    const Steady::time_point deadline = Steady::now() + period;
    unregisterTimer(timerId); // registered anew: its old deadline must not stay behind
    timers_[timerId] = Timer{deadline, period, timerType, object};
    deadlines_.insert({deadline, timerId});
}

bool EpollEventDispatcher::unregisterTimer(int timerId)
{
    const auto it = timers_.find(timerId);
    if (it == timers_.end())
        return false;
    deadlines_.erase({it->second.deadline, timerId});
    timers_.erase(it);
    return true;
}

bool EpollEventDispatcher::unregisterTimers(QObject* object)
{
    bool any = false;
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->second.object == object) {
            deadlines_.erase({it->second.deadline, it->first});
            it = timers_.erase(it);
            any = true;
        } else {
            ++it;
        }
    }
    return any;
}

QList<QAbstractEventDispatcher::TimerInfo> EpollEventDispatcher::registeredTimers(QObject* object) const
{
    QList<TimerInfo> infos;
    for (const auto& [id, timer] : timers_)
        if (timer.object == object)
            infos.append(TimerInfo(id, int(timer.interval.count()), timer.type));
    return infos;
}

int EpollEventDispatcher::remainingTime(int timerId)
{
    const auto it = timers_.find(timerId);
    if (it == timers_.end())
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(it->second.deadline - Steady::now());
    return int(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

#endif

void useEventLoopOfHeadlessPrograms()
{
#ifdef Q_OS_LINUX
    QCoreApplication::setEventDispatcher(new EpollEventDispatcher);
#endif
}

void useEventLoopOfHeadlessPrograms(QThread& thread)
{
#ifdef Q_OS_LINUX
    thread.setEventDispatcher(new EpollEventDispatcher);
#else
    Q_UNUSED(thread);
#endif
}

} // namespace orvik
