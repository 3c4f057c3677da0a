// Whatever comes down the line: every byte value, NULs, floods of
// megabytes, replies cut at every position. The panel stays responsive,
// its memory stays bounded, and its lines show only the traffic rendering.
#include "core/clock.h"
#include "panel/exchange_engine.h"
#include "protocol/traffic_rendering.h"
#include "tests/support/controls.h"
#include "tests/support/form_fixture.h"
#include "tools/sim/pty_projector.h"

#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace orvik;
using namespace orvik::test;
using test::FormFixture;

namespace {

const QStringList kStatusTexts = {QStringLiteral(" Power ON"),
                                  QStringLiteral(" Stand by"),
                                  QStringLiteral(" Count down"),
                                  QStringLiteral(" Cooling down"),
                                  QStringLiteral(" Power abnormality"),
                                  QStringLiteral(" Temperature abnormality"),
                                  QStringLiteral(" Key input prohibition"),
                                  QStringLiteral(" Computer"),
                                  QStringLiteral(" Video"),
                                  QStringLiteral(" Normally"),
                                  QStringLiteral(" Top/Bottom reversal"),
                                  QStringLiteral(" Left/Right reversal"),
                                  QStringLiteral(" Top/Bottom , Left/Right reversal")};

// Only tokens of the rendering: printable ASCII up to "z".
bool onlyRenderingCharacters(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 32 && c.unicode() <= 122; });
}

void checkLines(const FormFixture& f)
{
    const QString txd = f.caption(kTxdLine);
    const QString rxd = f.caption(kRxdLine);
    const QString status = f.caption(kStatusLine);
    QVERIFY(onlyRenderingCharacters(txd));
    QVERIFY(onlyRenderingCharacters(rxd));
    QVERIFY(rxd.isEmpty() || rxd.startsWith(u' '));
    QVERIFY(rxd.size() <= 1 + 4 * ExchangeEngine::kReceiveLimit);
    QVERIFY2(status.isEmpty() || kStatusTexts.contains(status)
                 || (status.endsWith(QLatin1String(" Hour Use")) && status.size() <= 8 + 9
                     && onlyRenderingCharacters(status)),
             qPrintable(status));
    QVERIFY(f.form->state().ReceiveBuffer.size() <= ExchangeEngine::kReceiveLimit);
}

} // namespace

class TestHostileLine : public QObject {
    Q_OBJECT
private slots:
    void randomBytesAfterEveryQueryShowOnlyTheRendering()
    {
        FormFixture f;
        f.load();
        QRandomGenerator random(20261207);
        const char* queries[] = {kStatusQuery, kModeQuery, kLampTimeQuery, kSettingQuery, kPowerOn};
        for (int round = 0; round < 2000; ++round) {
            if (round % 3 == 0)
                f.click(queries[random.bounded(5)]);
            QByteArray bytes(int(random.bounded(1, 12)), Qt::Uninitialized);
            for (char& b : bytes)
                b = char(random.bounded(256));
            f.device->inject(bytes);
            checkLines(f);
            f.advance(int(random.bounded(0, 700)));
            checkLines(f);
        }
    }

    void nulsAndEveryByteValueAreShownAsTokens()
    {
        FormFixture f;
        f.load();
        f.click(kStatusQuery);
        f.device->inject(QByteArray(10, '\0'));
        QCOMPARE(f.caption(kRxdLine), QStringLiteral(" ? ? ? ? ? ? ? ? ? ? "));
        QCOMPARE(f.caption(kStatusLine), QString());
        QByteArray all;
        for (int b = 255; b >= 0; --b)
            all += char(b);
        f.device->inject(all);
        checkLines(f);
    }

    void aFloodOfMegabytesStaysBounded()
    {
        FormFixture f;
        f.load();
        const QByteArray chunk(64 * 1024, 'U');
        for (int i = 0; i < 128; ++i) // 8 MB
            f.device->inject(chunk);
        QCOMPARE(f.form->state().ReceiveBuffer.size(), ExchangeEngine::kReceiveLimit);
        checkLines(f);
        // After the next time-out the panel decodes again as usual.
        f.click(kStatusQuery);
        f.advance(500);
        f.click(kStatusQuery);
        f.device->inject("00\r");
        QCOMPARE(f.caption(kStatusLine), QStringLiteral(" Power ON"));
    }

    void repliesCutAtEveryPositionEndTheSame_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("STATUS 00") << QByteArray(kStatusQuery) << QByteArray("00\r");
        QTest::newRow("STATUS 28") << QByteArray(kStatusQuery) << QByteArray("28\r\n");
        QTest::newRow("MODE 3") << QByteArray(kModeQuery) << QByteArray("3\r");
        QTest::newRow("L-TIME") << QByteArray(kLampTimeQuery) << QByteArray("123456\r");
        QTest::newRow("SETTING 00") << QByteArray(kSettingQuery) << QByteArray("00\r");
        QTest::newRow("ACK first") << QByteArray(kStatusQuery)
                                   << QByteArray("\x06"
                                                 "00\r");
    }
    void repliesCutAtEveryPositionEndTheSame()
    {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, reply);
        QString whole;
        QString wholeStatus;
        {
            FormFixture f;
            f.load();
            f.click(query.constData());
            f.device->inject(reply);
            whole = f.caption(kRxdLine);
            wholeStatus = f.caption(kStatusLine);
        }
        QCOMPARE(whole, renderTraffic(QString::fromLatin1(reply)));
        for (int cut = 1; cut < reply.size(); ++cut) {
            FormFixture f;
            f.load();
            f.click(query.constData());
            f.device->inject(reply.left(cut));
            QCOMPARE(f.caption(kRxdLine), renderTraffic(QString::fromLatin1(reply.left(cut))));
            f.device->inject(reply.mid(cut));
            QCOMPARE(f.caption(kRxdLine), whole);
            QCOMPARE(f.caption(kStatusLine), wholeStatus);
        }
        // One byte at a time.
        FormFixture f;
        f.load();
        f.click(query.constData());
        for (char b : reply)
            f.device->inject(QByteArray(1, b));
        QCOMPARE(f.caption(kRxdLine), whole);
        QCOMPARE(f.caption(kStatusLine), wholeStatus);
    }

    void aFloodOnTheRealLineLeavesThePanelResponsive()
    {
        sim::PtyProjector::Options passive;
        passive.listen = false;
        sim::PtyProjector far(passive);
        SystemClock clock;
        test::RecordingWarningBox warnings;
        const QString path = far.devicePath();
        const auto panel = makeFormOnDevice(clock, warnings, path);
        Form1& form = *panel;
        form.Form_Load();
        QVERIFY(form.MSComm1().portOpen());

        std::atomic<bool> stop{false};
        std::atomic<qint64> flooded{0};
        std::thread flood([&] {
            const QByteArray chunk(4096, '\x55');
            while (!stop && flooded < 4 * 1024 * 1024) {
                pollfd pfd{far.masterFd(), POLLOUT, 0};
                if (::poll(&pfd, 1, 20) > 0) {
                    const ssize_t n = ::write(far.masterFd(), chunk.constData(), size_t(chunk.size()));
                    if (n > 0)
                        flooded += n;
                }
            }
        });

        // While the flood runs, a click still reaches the line and a timer
        // still ticks.
        QTest::qWait(100);
        bool ticked = false;
        QTimer::singleShot(50, &form, [&] { ticked = true; });
        QTest::mouseClick(form.control(QLatin1String(kPowerOn)), Qt::LeftButton);
        QByteArray sent;
        const auto readSome = [&] {
            char buffer[64];
            const ssize_t n = ::read(far.masterFd(), buffer, sizeof buffer);
            if (n > 0)
                sent.append(buffer, n);
            return sent;
        };
        QTRY_COMPARE_WITH_TIMEOUT(readSome(), QByteArray("C00\r"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(ticked, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(flooded >= 1024 * 1024, 20000);
        QVERIFY(form.state().ReceiveBuffer.size() <= ExchangeEngine::kReceiveLimit);
        stop = true;
        flood.join();
    }
};

QTEST_MAIN(TestHostileLine)
#include "test_hostile_line.moc"
