// The headless exchange on a fake device and the hand-driven clock: which
// step a reply belongs to, and when a command may end.
#include "protocol/exchange.h"
#include "tests/support/fake_serial_device.h"
#include "tests/support/manual_clock.h"

#include <QTest>

#include <optional>

using namespace orvik;
using namespace std::chrono_literals;

namespace {

const QByteArray kAck(1, 6);

Command word(const char* text) { return std::get<Command>(parseCommand(QString::fromLatin1(text))); }

struct Rig {
    Rig()
    {
        device.open(QStringLiteral("/dev/x"), {}, nullptr);
        QObject::connect(&exchange, &Exchange::finished, [this](const Outcome& o) {
            outcome = o;
            endedAt = clock.now();
        });
    }
    void run(const char* text)
    {
        outcome.reset();
        device.written.clear();
        exchange.run(word(text));
    }
    // Moves the clock to `ms` after the start, then the far end says `bytes`.
    void at(int ms, const QByteArray& bytes = {})
    {
        clock.advance(Millis(ms) - clock.now());
        if (!bytes.isEmpty())
            device.inject(bytes);
    }

    test::ManualClock clock;
    test::FakeSerialDevice device;
    Exchange exchange{device, clock};
    std::optional<Outcome> outcome;
    Millis endedAt{0};
};

} // namespace

class TestExchange : public QObject {
    Q_OBJECT
private slots:
    void aReplyEndsTheCommandAtOnce()
    {
        Rig rig;
        rig.run("status");
        QCOMPARE(rig.device.written, QByteArray("CR0\r"));
        rig.at(30, "0");
        QVERIFY(!rig.outcome); // split: the reply ends at its CR
        rig.at(40, "0\r");
        QVERIFY(rig.outcome && rig.outcome->ok);
        QCOMPARE(rig.outcome->status, QStringLiteral("Power ON"));
        QCOMPARE(rig.outcome->replyMs, 40);
    }

    void aLateReplyIsNoReplyAndNobodysAfterwards()
    {
        Rig rig;
        rig.run("status");
        rig.at(499);
        rig.at(700, "80\r"); // past the time-out: not the reply, but the line is not quiet
        rig.at(1199);
        QVERIFY(!rig.outcome);
        rig.at(1200); // quiet for a time-out since
        QVERIFY(rig.outcome && !rig.outcome->ok);
        QCOMPARE(rig.outcome->error, QStringLiteral("no reply"));
        QVERIFY(rig.outcome->reply.isEmpty());
        rig.run("status");
        rig.at(1220, "00\r");
        QCOMPARE(rig.outcome->status, QStringLiteral("Power ON"));
    }

    void aLineThatNeverFallsQuietStillEndsTheCommand()
    {
        Rig rig;
        rig.run("status");
        for (int ms = 600; ms < 5000 && !rig.outcome; ms += 100)
            rig.at(ms, "?");
        QVERIFY(rig.outcome);
        QCOMPARE(rig.endedAt, 2500ms); // four time-outs after the last step's
    }

    void bytesThatCameUnaskedAreNoReply()
    {
        Rig rig;
        rig.device.inject(kAck + "80\r"); // on the line before the command
        rig.run("status");
        rig.at(20, "00\r");
        QVERIFY(rig.outcome && rig.outcome->ok);
        QCOMPARE(rig.outcome->reply, QByteArray("00\r"));
    }

    void aDoubledReplyIsTakenOnceAndTheRestDropped()
    {
        Rig rig;
        rig.run("power-on");
        rig.at(10, kAck + kAck);
        QVERIFY(rig.outcome && rig.outcome->ok);
        rig.run("status"); // the second ACK is not its reply
        rig.at(30, "40\r");
        QCOMPARE(rig.outcome->status, QStringLiteral("Count down"));
    }

    void aHoldIsOkOnlyWhenEveryStepIsAnsweredInTime_data()
    {
        QTest::addColumn<int>("late");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("endsAt");
        // vol-up:3 sends at 0, 250 and 500 ms; each step has 500 ms.
        QTest::newRow("0.2 periods late") << 50 << true << QString() << 550;
        QTest::newRow("1.2 periods late") << 300 << true << QString() << 800;
        // Step 1 goes unanswered; the later ACKs are taken by steps 2 and 3,
        // the last one by nobody, and the line is then left to fall quiet.
        QTest::newRow("2.5 periods late") << 625 << false << QStringLiteral("no reply to step 1 of 3") << 1625;
    }
    void aHoldIsOkOnlyWhenEveryStepIsAnsweredInTime()
    {
        QFETCH(int, late);
        QFETCH(bool, ok);
        QFETCH(QString, error);
        QFETCH(int, endsAt);
        Rig rig;
        rig.run("vol-up:3");
        // Each step answered `late` ms after it was sent, in time order.
        for (int step = 0; step < 3; ++step) {
            QVERIFY(!rig.outcome);
            rig.at(step * 250 + late, kAck);
        }
        if (!rig.outcome) { // a hold that missed a step waits for a quiet line
            rig.at(endsAt - 1);
            QVERIFY(!rig.outcome);
            rig.at(endsAt);
        }
        QCOMPARE(rig.device.written, QByteArray("C09\rC09\rC09\r"));
        QVERIFY(rig.outcome);
        QCOMPARE(rig.outcome->ok, ok);
        QCOMPARE(rig.outcome->error, error);
        QCOMPARE(rig.endedAt, Millis(endsAt));
    }

    void aHoldWaitsForItsLastStepsTimeOut()
    {
        Rig rig;
        rig.run("vol-up:2");
        rig.at(20, kAck);
        rig.at(749); // step 2, sent at 250, still may be answered
        QVERIFY(!rig.outcome);
        rig.at(1250); // then the line is left to fall quiet
        QVERIFY(rig.outcome && !rig.outcome->ok);
        QCOMPARE(rig.outcome->error, QStringLiteral("no reply to step 2 of 2"));
    }

    void aLostPortEndsTheCommandAndSaysSo()
    {
        Rig rig;
        rig.run("vol-up:3");
        rig.at(100, kAck);
        rig.at(260);
        rig.device.pull();
        QVERIFY(rig.outcome && !rig.outcome->ok && rig.outcome->portFailed);
        QCOMPARE(rig.outcome->error, QStringLiteral("port lost: device removed"));
        rig.at(2000);
        QCOMPARE(rig.device.written, QByteArray("C09\rC09\r")); // nothing after the loss

        rig.run("status"); // still lost: not sent, said why
        QVERIFY(rig.outcome && rig.outcome->portFailed);
        QCOMPARE(rig.outcome->error, QStringLiteral("port lost: device removed"));
    }
};

QTEST_GUILESS_MAIN(TestExchange)
#include "test_exchange.moc"
