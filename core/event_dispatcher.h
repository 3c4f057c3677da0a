#pragma once

#include <QAbstractEventDispatcher>

#include <atomic>
#include <chrono>
#include <set>
#include <unordered_map>
#include <vector>

class QThread;

namespace orvik {

#ifdef Q_OS_LINUX

// An event loop whose cost is per event, not per descriptor: the kernel
// keeps the set of watched descriptors (epoll) and reports only the ready
// ones, so a thousand idle ports and listeners cost nothing between events.
// Qt's own loops pass every notifier to poll() on each wake-up. Timers are
// kept in deadline order and fire no earlier than asked, to the millisecond.
class EpollEventDispatcher final : public QAbstractEventDispatcher {
    Q_OBJECT
public:
    explicit EpollEventDispatcher(QObject* parent = nullptr);
    ~EpollEventDispatcher() override;

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;

    void registerSocketNotifier(QSocketNotifier* notifier) override;
    void unregisterSocketNotifier(QSocketNotifier* notifier) override;

    void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject* object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject* object) override;
    QList<TimerInfo> registeredTimers(QObject* object) const override;
    int remainingTime(int timerId) override;

    void wakeUp() override;
    void interrupt() override;

private:
    using Steady = std::chrono::steady_clock;

    struct Watched {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
        QSocketNotifier* exception = nullptr;
        bool inKernel = false;    // epoll watches it
        bool alwaysReady = false; // a regular file: epoll refuses, poll() calls it ready
    };
    struct Timer {
        Steady::time_point deadline;
        std::chrono::milliseconds interval;
        Qt::TimerType type;
        QObject* object;
        bool firing = false; // its handler runs: a nested loop does not fire it again
    };

    void watch(int fd, Watched& watched);
    int activateNotifiers();
    int activateTimers();
    int waitMilliseconds(bool includeTimers) const;
    void drainWakeUps();

    int epollFd_;
    int wakeFd_;
    std::atomic<bool> wakeUpPending_{false};
    std::atomic<bool> interrupted_{false};
    std::unordered_map<int, Watched> watched_;
    std::vector<int> alwaysReady_;
    std::vector<QSocketNotifier*> pending_;
    std::unordered_map<int, Timer> timers_;
    std::set<std::pair<Steady::time_point, int>> deadlines_;
};

#endif

// The event loop the headless programs run: epoll where there is one. Call
// before the application object is made.
void useEventLoopOfHeadlessPrograms();
// The same for a thread of the program, before it starts.
void useEventLoopOfHeadlessPrograms(QThread& thread);

} // namespace orvik
