// The headless programs' event loop, as Qt's own code and ours use it:
// timers never early and in order, notifiers told only while enabled and
// alive, work posted from other threads woken for, loops within loops.
#include "core/event_dispatcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QSocketNotifier>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace orvik;
using namespace std::chrono_literals;

namespace {

// Two connected stream sockets, closed at the end.
struct SocketPair {
    int fds[2] = {-1, -1};
    SocketPair() { ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds); }
    ~SocketPair()
    {
        for (const int fd : fds)
            if (fd >= 0)
                ::close(fd);
    }
    void send() const { QCOMPARE(::write(fds[1], "x", 1), 1); }
    void drain() const
    {
        char bytes[64];
        while (::read(fds[0], bytes, sizeof bytes) > 0) {}
    }
};

} // namespace

class TestEventLoop : public QObject {
    Q_OBJECT
private slots:
    void theProgramRunsOnIt() { QVERIFY(qobject_cast<EpollEventDispatcher*>(QAbstractEventDispatcher::instance())); }

    void timersFireInOrderAndNeverEarly()
    {
        QElapsedTimer since;
        since.start();
        QList<std::pair<int, qint64>> fired; // interval, elapsed
        std::vector<std::unique_ptr<QTimer>> timers;
        for (const int ms : {60, 20, 40, 0}) {
            auto timer = std::make_unique<QTimer>();
            timer->setSingleShot(true);
            timer->setTimerType(ms == 40 ? Qt::CoarseTimer : Qt::PreciseTimer);
            connect(timer.get(), &QTimer::timeout, this, [&fired, &since, ms] { fired.append({ms, since.elapsed()}); });
            timer->start(ms);
            timers.push_back(std::move(timer));
        }
        QTRY_COMPARE(fired.size(), 4);
        for (int i = 0; i < fired.size(); ++i) {
            QCOMPARE(fired[i].first, QList<int>({0, 20, 40, 60})[i]);
            QVERIFY2(fired[i].second >= fired[i].first, qPrintable(QString::number(fired[i].second)));
        }
        // A repeating timer keeps its period; one stopped or deleted by
        // another's handler, due at the same moment, is not told.
        QTimer repeating, killer;
        auto victim = std::make_unique<QTimer>();
        int ticks = 0, victimTicks = 0;
        connect(&repeating, &QTimer::timeout, this, [&ticks] { ++ticks; });
        connect(victim.get(), &QTimer::timeout, this, [&victimTicks] { ++victimTicks; });
        connect(&killer, &QTimer::timeout, this, [&victim] { victim.reset(); });
        killer.setSingleShot(true);
        killer.start(30);
        victim->start(31);
        repeating.start(25);
        QVERIFY(repeating.remainingTime() > 0 && repeating.remainingTime() <= 25);
        QTest::qWait(260);
        QVERIFY2(ticks >= 8 && ticks <= 11, qPrintable(QString::number(ticks)));
        QCOMPARE(victimTicks, 0);
        QCOMPARE(victim.get(), nullptr);
    }

    void notifiersAreToldWhileEnabledAndAlive()
    {
        SocketPair pair;
        QSocketNotifier notifier(pair.fds[0], QSocketNotifier::Read);
        int told = 0;
        connect(&notifier, &QSocketNotifier::activated, this, [&] {
            ++told;
            pair.drain();
        });
        pair.send();
        QTRY_COMPARE(told, 1);
        notifier.setEnabled(false);
        pair.send();
        QTest::qWait(50);
        QCOMPARE(told, 1); // disabled: the byte waits
        notifier.setEnabled(true);
        QTRY_COMPARE(told, 2);

        // Two ready at once: the first deletes the second, which is not told.
        SocketPair a, b;
        auto first = std::make_unique<QSocketNotifier>(a.fds[0], QSocketNotifier::Read);
        auto second = std::make_unique<QSocketNotifier>(b.fds[0], QSocketNotifier::Read);
        int afterDelete = 0;
        const auto deleteOther = [&](std::unique_ptr<QSocketNotifier>& other) {
            other.reset();
            a.drain();
            b.drain();
        };
        connect(first.get(), &QSocketNotifier::activated, this, [&] { deleteOther(second); });
        connect(second.get(), &QSocketNotifier::activated, this, [&] { deleteOther(first); });
        connect(first.get(), &QObject::destroyed, this, [&] { ++afterDelete; });
        connect(second.get(), &QObject::destroyed, this, [&] { ++afterDelete; });
        a.send();
        b.send();
        QTRY_COMPARE(afterDelete, 1);
        QTest::qWait(30);
        QCOMPARE(afterDelete, 1); // the survivor was not deleted by a handler of the dead one
    }

    void aNumberClosedAndGivenAgainIsWatchedAnew()
    {
        int told = 0;
        auto pair = std::make_unique<SocketPair>();
        const int fd = pair->fds[0];
        auto gone = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        pair.reset();    // closed while still watched, as a vanished device is
        SocketPair next; // the lowest numbers come back first
        QCOMPARE(next.fds[0], fd);
        QSocketNotifier writable(next.fds[0], QSocketNotifier::Write); // the kernel forgot the old file
        int writableTold = 0;
        connect(&writable, &QSocketNotifier::activated, this, [&] {
            ++writableTold;
            writable.setEnabled(false);
        });
        QTRY_COMPARE(writableTold, 1);
        gone.reset();
        QSocketNotifier notifier(next.fds[0], QSocketNotifier::Read);
        connect(&notifier, &QSocketNotifier::activated, this, [&] {
            ++told;
            next.drain();
        });
        next.send();
        QTRY_COMPARE(told, 1);
        QTemporaryFile file; // a regular file is always ready, as poll() has it
        QVERIFY(file.open());
        QSocketNotifier always(file.handle(), QSocketNotifier::Read);
        int fileTold = 0;
        connect(&always, &QSocketNotifier::activated, this, [&] {
            if (++fileTold == 3)
                always.setEnabled(false);
        });
        QTRY_COMPARE(fileTold, 3);
    }

    void workFromOtherThreadsWakesTheLoop()
    {
        QElapsedTimer since;
        since.start();
        int done = 0;
        std::thread other([this, &done] {
            std::this_thread::sleep_for(50ms);
            QMetaObject::invokeMethod(
                this, [&done] { ++done; }, Qt::QueuedConnection);
        });
        QTRY_COMPARE_WITH_TIMEOUT(done, 1, 2000);
        other.join();
        // A loop told to quit from another thread quits, with nothing else due.
        QEventLoop loop;
        std::thread quitter([&loop] {
            std::this_thread::sleep_for(50ms);
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, &loop, [&loop] { loop.exit(1); });
        guard.start(5000);
        QCOMPARE(loop.exec(), 0);
        quitter.join();
        // deleteLater, from within a loop inside a loop.
        QPointer<QObject> doomed = new QObject;
        QTimer::singleShot(0, this, [&] {
            doomed->deleteLater();
            QEventLoop inner;
            QTimer::singleShot(10, &inner, &QEventLoop::quit);
            inner.exec();
        });
        QTRY_VERIFY(doomed.isNull());
    }

    // A thread of the program runs the same loop, set before it starts.
    void aThreadRunsItToo()
    {
        QThread thread;
        useEventLoopOfHeadlessPrograms(thread);
        thread.start();
        QObject there;
        there.moveToThread(&thread);
        std::atomic<bool> onIt{false};
        QMetaObject::invokeMethod(&there, [&onIt] {
            onIt = qobject_cast<EpollEventDispatcher*>(QAbstractEventDispatcher::instance()) != nullptr;
        });
        QTRY_VERIFY(onIt.load());
        thread.quit();
        QVERIFY(thread.wait(5000));
    }
};

int main(int argc, char* argv[])
{
    useEventLoopOfHeadlessPrograms();
    QCoreApplication app(argc, argv);
    TestEventLoop test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_event_loop.moc"
