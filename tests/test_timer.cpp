// The panel's timer rules, on the hand-driven clock.
#include "panel/timer.h"
#include "tests/support/manual_clock.h"

#include <QTest>

#include <thread>

using namespace orvik;
using namespace std::chrono_literals;

class TestTimer : public QObject {
    Q_OBJECT

    test::ManualClock clock;

    // Records the clock's time at every tick.
    struct Ticks {
        Ticks(Timer& timer, test::ManualClock& clock)
        {
            QObject::connect(&timer, &Timer::tick, &timer, [this, &clock] { at.append(int(clock.now().count())); });
        }
        QList<int> at;
    };

private slots:
    void startsStoppedAndTicksEveryPeriodOnceEnabled()
    {
        Timer t(clock, 200ms);
        Ticks ticks(t, clock);
        const int start = int(clock.now().count());
        clock.advance(1000ms);
        QVERIFY(ticks.at.isEmpty());
        t.setEnabled(true);
        clock.advance(650ms);
        QCOMPARE(ticks.at, (QList<int>{start + 1200, start + 1400, start + 1600}));
    }

    void enablingARunningTimerKeepsItsCountdown()
    {
        Timer t(clock, 500ms);
        Ticks ticks(t, clock);
        const int start = int(clock.now().count());
        t.setEnabled(true);
        clock.advance(300ms);
        t.setEnabled(true);
        clock.advance(250ms);
        QCOMPARE(ticks.at, QList<int>{start + 500});
    }

    void writingTheIntervalOfARunningTimerRestartsIt()
    {
        Timer t(clock, 500ms);
        Ticks ticks(t, clock);
        const int start = int(clock.now().count());
        t.setEnabled(true);
        clock.advance(300ms);
        t.setInterval(500ms); // same length, fresh countdown
        clock.advance(700ms);
        QCOMPARE(ticks.at, QList<int>{start + 800});
    }

    void writingTheIntervalOfAStoppedTimerOnlyStoresIt()
    {
        Timer t(clock, 500ms);
        Ticks ticks(t, clock);
        t.setInterval(5ms);
        clock.advance(100ms);
        QVERIFY(ticks.at.isEmpty());
        t.setEnabled(true);
        clock.advance(20ms);
        QCOMPARE(ticks.at.size(), 4);
    }

    void disablingFromItsOwnTickStopsAtOnce()
    {
        Timer t(clock, 100ms);
        int ticks = 0;
        connect(&t, &Timer::tick, this, [&] {
            ++ticks;
            t.setEnabled(false);
        });
        t.setEnabled(true);
        clock.advance(1000ms);
        QCOMPARE(ticks, 1);
        QVERIFY(!t.enabled());
    }

    void aTimerStoppedByAnotherDueAtTheSameTimeDoesNotTick()
    {
        Timer first(clock, 100ms);
        Timer second(clock, 100ms);
        int secondTicks = 0;
        connect(&first, &Timer::tick, this, [&] { second.setEnabled(false); });
        connect(&second, &Timer::tick, this, [&] { ++secondTicks; });
        first.setEnabled(true);
        second.setEnabled(true);
        clock.advance(100ms);
        QCOMPARE(secondTicks, 0);
    }

    void fiveMillisecondPeriodsNeitherDriftNorBunch()
    {
        Timer t(clock, 5ms);
        Ticks ticks(t, clock);
        const int start = int(clock.now().count());
        t.setEnabled(true);
        clock.advance(1000ms);
        QCOMPARE(ticks.at.size(), 200);
        for (int i = 0; i < ticks.at.size(); ++i)
            QCOMPARE(ticks.at[i], start + 5 * (i + 1));
    }

    // The window's thread held up now and then (a long paint, a busy
    // machine): the repeat must not send two frames closer than its period
    // to catch up, nor send a burst after a long hold-up.
    void aLateTickIsFollowedByAFullPeriodNotAnEarlyOne()
    {
        Timer t(clock, 250ms);
        Ticks ticks(t, clock);
        const int start = int(clock.now().count());
        t.setEnabled(true);
        clock.advance(499ms);
        clock.stall(4ms); // the tick due at 500 comes at 503
        clock.advance(500ms);
        QCOMPARE(ticks.at, (QList<int>{start + 250, start + 503, start + 753, start + 1003}));
    }

    void aTickLateByAMillisecondKeepsThePhase()
    {
        Timer t(clock, 200ms);
        Ticks ticks(t, clock);
        const int start = int(clock.now().count());
        t.setEnabled(true);
        clock.advance(199ms);
        clock.stall(2ms); // due at 200, comes at 201
        clock.advance(400ms);
        QCOMPARE(ticks.at, (QList<int>{start + 201, start + 400, start + 600}));
    }

    void aStallOfManyPeriodsGivesOneTickThenTheRhythmAgain()
    {
        Timer t(clock, 5ms);
        Ticks ticks(t, clock);
        const int start = int(clock.now().count());
        t.setEnabled(true);
        clock.advance(10ms);
        clock.stall(23ms);
        clock.advance(10ms);
        QCOMPARE(ticks.at, (QList<int>{start + 5, start + 10, start + 33, start + 38, start + 43}));
    }

    void zeroIntervalNeverTicks()
    {
        Timer t(clock, 0ms);
        Ticks ticks(t, clock);
        t.setEnabled(true);
        clock.advance(1000ms);
        QVERIFY(ticks.at.isEmpty());
    }

    void systemClockTimerTicksOnTheEventLoop()
    {
        SystemClock system;
        Timer t(system, 5ms);
        int ticks = 0;
        connect(&t, &Timer::tick, this, [&] {
            if (++ticks == 3)
                t.setEnabled(false);
        });
        t.setEnabled(true);
        QTRY_COMPARE_WITH_TIMEOUT(ticks, 3, 5000);
        QTest::qWait(50);
        QCOMPARE(ticks, 3);
    }

    // On the system clock, alarms close together fire in deadline order, once
    // a period, and one stopped by an earlier handler does not fire, also
    // when both were due in the same pass of the event loop.
    void systemClockAlarmsCloseTogetherKeepTheirOrderAndStops()
    {
        SystemClock system;
        QStringList fired;
        auto first = system.makeAlarm([&] { fired << QStringLiteral("first"); });
        auto second = system.makeAlarm([&] { fired << QStringLiteral("second"); });
        // 20 ms apart: a machine that stalls the loop a few milliseconds (a
        // sanitized build beside other tests) still sees them in two passes.
        first->start(100ms);
        second->start(120ms);
        QTRY_COMPARE_WITH_TIMEOUT(fired.size(), 4, 5000);
        first->stop();
        second->stop();
        QCOMPARE(fired, (QStringList{"first", "second", "first", "second"}));

        fired.clear();
        auto stopper = system.makeAlarm([&] {
            fired << QStringLiteral("stopper");
            second->stop();
        });
        stopper->start(60ms);
        second->start(80ms);
        QTRY_COMPARE_WITH_TIMEOUT(fired.size(), 2, 5000);
        stopper->stop();
        QTest::qWait(80);
        QCOMPARE(fired, (QStringList{"stopper", "stopper"}));

        // Both due when the loop next looks: whichever runs first stops the
        // other, which then must not fire.
        fired.clear();
        std::unique_ptr<Alarm> a, b;
        a = system.makeAlarm([&] {
            fired << QStringLiteral("a");
            b->stop();
            a->stop();
        });
        b = system.makeAlarm([&] {
            fired << QStringLiteral("b");
            a->stop();
            b->stop();
        });
        a->start(20ms);
        b->start(20ms);
        std::this_thread::sleep_for(60ms); // holds the event loop up
        QTest::qWait(80);
        QCOMPARE(fired.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestTimer)
#include "test_timer.moc"
