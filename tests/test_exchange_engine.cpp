// The exchange engine: sending, receiving, the reply time-out and the
// display clear, on a fake device and the hand-driven clock.
#include "panel/announcer.h"
#include "panel/exchange_engine.h"
#include "panel/mscomm.h"
#include "panel/timer.h"
#include "protocol/command_set.h"
#include "protocol/status_queries.h"
#include "tests/support/fake_serial_device.h"
#include "tests/support/manual_clock.h"
#include "tests/support/text_line.h"

#include <QTest>

using namespace orvik;
using namespace std::chrono_literals;

namespace {

// What a screen reader would be told, in order.
struct Heard final : Announcer {
    void announce(const QString& text) override { said.append(text); }
    QStringList said;
};

struct Rig {
    Rig()
    {
        comm->setPortOpen(true);
        engine.setDecoder(&decodeStatus);
        engine.setAnnouncer(&heard);
    }
    void send(const char* code)
    {
        state.SendBuffer = commandFrame(code);
        engine.send(state.SendBuffer);
    }
    void advance(int ms) { clock.advance(Millis(ms)); }

    test::ManualClock clock;
    Failure failure;
    test::FakeSerialDevice* device = new test::FakeSerialDevice; // owned by comm
    std::unique_ptr<MSComm> comm = std::make_unique<MSComm>(
        std::unique_ptr<SerialDevice>(device), [](int) { return QStringLiteral("/dev/x"); }, failure);
    FormState state;
    Timer replyTimeout{clock, 500ms};
    Timer displayClear{clock, 1000ms};
    test::TextLine txd, rxd, status;
    ExchangeEngine engine{state, *comm, replyTimeout, displayClear, {txd, rxd, status}};
    Heard heard;
};

} // namespace

class TestExchangeEngine : public QObject {
    Q_OBJECT
private slots:
    void aSendGoesOutAndShowsOnTheTxdLine()
    {
        Rig rig;
        rig.send("C00");
        QCOMPARE(rig.device->written, QByteArray("C00\r"));
        QCOMPARE(rig.txd.text, QStringLiteral(" C 0 0 CR "));
        QCOMPARE(rig.state.ReplyPending, 1);
        QVERIFY(rig.replyTimeout.enabled());
        QVERIFY(rig.displayClear.enabled());
    }

    void anUnansweredSendShowsXsThenClears()
    {
        Rig rig;
        rig.send("C00");
        rig.advance(499);
        QCOMPARE(rig.rxd.text, QString());
        rig.advance(1);
        QCOMPARE(rig.rxd.text, QStringLiteral(" X X X X"));
        QCOMPARE(rig.state.ReplyPending, 0);
        QVERIFY(!rig.replyTimeout.enabled());
        rig.advance(499);
        QCOMPARE(rig.txd.text, QStringLiteral(" C 0 0 CR "));
        rig.advance(1);
        QCOMPARE(rig.txd.text, QString());
        QCOMPARE(rig.rxd.text, QString());
        QVERIFY(!rig.displayClear.enabled());
    }

    void aReplyShowsOnTheRxdLineAndStopsTheXs()
    {
        Rig rig;
        rig.send("C00");
        rig.advance(100);
        rig.device->inject(QByteArray(1, 6));
        QCOMPARE(rig.rxd.text, QStringLiteral(" ACK "));
        QCOMPARE(rig.state.ReplyPending, 0);
        rig.advance(400);
        QCOMPARE(rig.rxd.text, QStringLiteral(" ACK "));
        QVERIFY(rig.state.ReceiveBuffer.isEmpty());
    }

    void aReplyInTwoPiecesIsShownWholeAfterTheSecond()
    {
        Rig rig;
        rig.send("CR0");
        rig.device->inject("0");
        QCOMPARE(rig.rxd.text, QStringLiteral(" 0 "));
        QCOMPARE(rig.status.text, QString());
        rig.device->inject("0\r");
        QCOMPARE(rig.rxd.text, QStringLiteral(" 0 0 CR "));
        QCOMPARE(rig.status.text, QStringLiteral(" Power ON"));
    }

    void eachDecodedStatusIsAnnouncedOnceAndItsClearingNot()
    {
        Rig rig;
        rig.send("CR0");
        rig.device->inject("0");
        rig.device->inject("0\r");
        rig.device->inject("\r"); // more after the status was written: the same status again
        rig.advance(1000);        // the display clears
        rig.send("C00");          // a command, answered, then left unanswered
        rig.device->inject(QByteArray(1, 6));
        rig.advance(1000);
        rig.send("C02");
        rig.advance(1000);
        rig.send("CR1"); // a query left unanswered
        rig.advance(1000);
        rig.send("CR0"); // the same status as before is said again for a new query
        rig.device->inject("00\r");
        QCOMPARE(rig.heard.said, (QStringList{"Power ON", "no reply", "Power ON"}));
        QCOMPARE(rig.rxd.text, QStringLiteral(" 0 0 CR "));
    }

    void theStatusLineClearsOneDisplayClearAfterTheQuery()
    {
        Rig rig;
        rig.send("CR0");
        rig.advance(300);
        rig.device->inject("80\r");
        QCOMPARE(rig.status.text, QStringLiteral(" Stand by"));
        rig.advance(699);
        QCOMPARE(rig.status.text, QStringLiteral(" Stand by"));
        rig.advance(1);
        QCOMPARE(rig.status.text, QString());
    }

    void aLateReplyReplacesTheXsAndIsStillDecoded()
    {
        Rig rig;
        rig.send("CR1");
        rig.advance(600);
        QCOMPARE(rig.rxd.text, QStringLiteral(" X X X X"));
        rig.device->inject("3\r");
        QCOMPARE(rig.rxd.text, QStringLiteral(" 3 CR "));
        QCOMPARE(rig.status.text, QStringLiteral(" Video"));
    }

    void twoQuickSendsShareOneReceiveBuffer()
    {
        Rig rig;
        rig.send("C00");
        rig.advance(100);
        rig.send("C02");
        QCOMPARE(rig.txd.text, QStringLiteral(" C 0 2 CR "));
        QCOMPARE(rig.state.ReplyPending, 1);
        rig.device->inject(QByteArray(1, 6));
        QCOMPARE(rig.state.ReplyPending, 0);
        rig.device->inject("x");
        QCOMPARE(rig.rxd.text, QStringLiteral(" ACK x "));
        QCOMPARE(rig.device->written, QByteArray("C00\rC02\r"));
    }

    void charactersLeftOverStayInFrontOfTheNextReply()
    {
        Rig rig;
        rig.device->inject("9"); // unsolicited, no time-out running
        rig.send("CR0");
        rig.device->inject("00\r");
        QCOMPARE(rig.rxd.text, QStringLiteral(" 9 0 0 CR "));
        QCOMPARE(rig.status.text, QString()); // " 9 0" is no key
    }

    void otherCommEventsAreIgnored()
    {
        Rig rig;
        rig.send("C00");
        rig.device->pull();
        QCOMPARE(rig.comm->commEvent(), MSComm::kDeviceLostEvent);
        QCOMPARE(rig.state.ReplyPending, 1);
        QCOMPARE(rig.rxd.text, QString());
    }

    void aSendOnAClosedPortStillRunsTheExchange()
    {
        Rig rig;
        rig.comm->setPortOpen(false);
        rig.send("C00");
        QCOMPARE(rig.device->written, QByteArray());
        QCOMPARE(rig.failure.number, 0);
        QCOMPARE(rig.txd.text, QStringLiteral(" C 0 0 CR "));
        rig.advance(500);
        QCOMPARE(rig.rxd.text, QStringLiteral(" X X X X"));
        rig.advance(500);
        QCOMPARE(rig.txd.text, QString());
    }

    void theReceiveBufferKeepsAtMost1024Characters()
    {
        Rig rig;
        const QByteArray flood(3000, 'A');
        for (int i = 0; i < 100; ++i)
            rig.device->inject(flood);
        QCOMPARE(rig.state.ReceiveBuffer.size(), ExchangeEngine::kReceiveLimit);
        QCOMPARE(rig.rxd.text.size(), 1 + 2 * ExchangeEngine::kReceiveLimit);
        // Emptied by the time-out, it fills again from the next reply on.
        rig.send("CR0");
        rig.advance(500);
        QVERIFY(rig.state.ReceiveBuffer.isEmpty());
        rig.send("CR0");
        rig.device->inject("00\r");
        QCOMPARE(rig.status.text, QStringLiteral(" Power ON"));
    }

    void everyByteValueIsShownAsItsToken()
    {
        Rig rig;
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all += char(b);
        rig.device->inject(all);
        QCOMPARE(rig.state.ReceiveBuffer.size(), 256);
        for (const QChar c : rig.rxd.text)
            QVERIFY(c.unicode() >= 32 && c.unicode() <= 122);
        QVERIFY(rig.rxd.text.contains(QStringLiteral(" ACK ")));
        QVERIFY(rig.rxd.text.contains(QStringLiteral("LF  ")));
        QVERIFY(rig.rxd.text.contains(QStringLiteral("CR ")));
    }
};

QTEST_GUILESS_MAIN(TestExchangeEngine)
#include "test_exchange_engine.moc"
