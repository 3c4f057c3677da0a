// Press-and-hold: what a hold sends and when, and the periods it leaves
// behind, on the hand-driven clock with real mouse events.
#include "panel/timer.h"
#include "tests/support/controls.h"
#include "tests/support/form_fixture.h"
#include "widgets/command_button.h"

#include <QTest>

using namespace orvik;
using namespace orvik::test;
using namespace std::chrono_literals;
using test::FormFixture;

namespace {

// Every frame written to the line, with the clock's time.
struct FrameLog {
    explicit FrameLog(FormFixture& f)
        : f(f)
    {
        connection =
            QObject::connect(f.device, &test::FakeSerialDevice::wrote, f.device, [this](const QByteArray& bytes) {
                frames.append({int(this->f.clock.now().count()), bytes});
            });
    }
    ~FrameLog() { QObject::disconnect(connection); }
    FrameLog(const FrameLog&) = delete;
    FrameLog& operator=(const FrameLog&) = delete;
    // Times relative to the first frame.
    QList<int> times() const
    {
        QList<int> out;
        for (const auto& [t, bytes] : frames)
            out.append(t - frames.front().first);
        return out;
    }
    FormFixture& f;
    QMetaObject::Connection connection;
    QList<QPair<int, QByteArray>> frames;
};

void press(FormFixture& f, const char* name, Qt::MouseButton button = Qt::LeftButton,
           Qt::KeyboardModifiers modifiers = {})
{
    QTest::mousePress(f.control(name), button, modifiers);
}
void release(FormFixture& f, const char* name, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mouseRelease(f.control(name), button);
}
void hold(FormFixture& f, const char* name, int ms)
{
    press(f, name);
    f.advance(ms);
    release(f, name);
}
QList<int> every(int period, int count)
{
    QList<int> out;
    for (int i = 0; i < count; ++i)
        out.append(i * period);
    return out;
}

} // namespace

class TestHoldRepeat : public QObject {
    Q_OBJECT
private slots:
    void aShortPressSendsOneFrame()
    {
        FormFixture f;
        f.load();
        FrameLog log(f);
        press(f, kVolUp);
        QCOMPARE(f.caption(kTxdLine), QStringLiteral(" C 0 9 CR "));
        f.advance(200);
        QCOMPARE(f.caption(kTxdLine), QStringLiteral(" C 0 9 CR "));
        release(f, kVolUp);
        QCOMPARE(log.frames.size(), 1);
        QCOMPARE(log.frames.front().second, QByteArray("C09\r"));
        QCOMPARE(f.caption(kTxdLine), QString());
    }

    void volumeRepeatsEvery250ms()
    {
        FormFixture f;
        f.load();
        FrameLog log(f);
        hold(f, kVolUp, 1010);
        QCOMPARE(log.times(), every(250, 5));
        for (const auto& frame : log.frames)
            QCOMPARE(frame.second, QByteArray("C09\r"));
        f.advance(2000);
        QCOMPARE(log.frames.size(), 5);
    }

    void selectRepeatsEvery500ms()
    {
        FormFixture f;
        f.load();
        FrameLog log(f);
        hold(f, kSelect, 1600);
        QCOMPARE(log.times(), every(500, 4));
        QCOMPARE(log.frames.back().second, QByteArray("C3F\r"));
    }

    void arrowsAtStartRepeatEvery200msWithNormalTimeouts()
    {
        FormFixture f;
        f.load();
        FrameLog log(f);
        press(f, kUp);
        QCOMPARE(f.form->timer(2).interval(), 500ms);
        QCOMPARE(f.form->timer(4).interval(), 1000ms);
        f.advance(650);
        release(f, kUp);
        QCOMPARE(log.times(), every(200, 4));
        QCOMPARE(log.frames.front().second, QByteArray("C3C\r"));
    }

    void afterMenuOnArrowsUseTheMenuContext()
    {
        FormFixture f;
        f.load();
        f.click(kMenuOn);
        f.advance(2000);
        FrameLog log(f);
        press(f, kRight);
        QCOMPARE(f.form->timer(2).interval(), 150ms);
        QCOMPARE(f.form->timer(4).interval(), 190ms);
        f.advance(450);
        release(f, kRight);
        QCOMPARE(log.times(), every(200, 3));
        QCOMPARE(log.frames.front().second, QByteArray("C3A\r"));
    }

    void afterAZoomReleaseArrowsRepeatEvery5ms()
    {
        FormFixture f;
        f.load();
        FrameLog zoom(f);
        hold(f, kZoomUp, 600);
        QCOMPARE(zoom.times(), every(250, 3));
        QCOMPARE(f.form->state().AdjustMode, 3);
        QCOMPARE(f.form->timer(1).interval(), 5ms);
        f.advance(2000);

        FrameLog log(f);
        press(f, kDown);
        QCOMPARE(f.form->timer(2).interval(), 5ms);
        QCOMPARE(f.form->timer(4).interval(), 5ms);
        f.advance(1000);
        release(f, kDown);
        QCOMPARE(log.times(), every(5, 201));
        QCOMPARE(log.frames.back().second, QByteArray("C3D\r"));
    }

    void periodsOutliveTheHoldThatWroteThem()
    {
        FormFixture f;
        f.load();
        f.click(kAImage);       // context 1, period 200
        hold(f, kVolDown, 100); // period 250
        f.advance(2000);
        {
            FrameLog log(f);
            press(f, kLeft);
            QCOMPARE(f.form->timer(2).interval(), 150ms);
            QCOMPARE(f.form->timer(4).interval(), 190ms);
            f.advance(600);
            release(f, kLeft);
            QCOMPARE(log.times(), every(250, 3));
        }
        hold(f, kSelect, 100); // period 500
        f.advance(2000);
        FrameLog log(f);
        hold(f, kUp, 1100);
        QCOMPARE(log.times(), every(500, 3));
    }

    void aReleaseRestoresTheExchange()
    {
        FormFixture f;
        f.load();
        press(f, kBrightUp);
        f.advance(300);
        f.device->inject("x");
        const QString sent = f.form->state().SendBuffer;
        release(f, kBrightUp);
        const FormState& s = f.form->state();
        QCOMPARE(s.RepeatCode, 0);
        QVERIFY(!f.form->timer(1).enabled());
        QVERIFY(!f.form->timer(2).enabled());
        QCOMPARE(f.form->timer(2).interval(), 500ms);
        QVERIFY(f.form->timer(4).enabled());
        QCOMPARE(f.form->timer(4).interval(), 1000ms);
        QCOMPARE(f.caption(kTxdLine), QString());
        QCOMPARE(f.caption(kRxdLine), QString());
        QVERIFY(s.ReceiveBuffer.isEmpty());
        QCOMPARE(s.SendBuffer, sent);
        QCOMPARE(s.ReplyPending, 0);
        QCOMPARE(s.AdjustMode, 0);
        QCOMPARE(f.form->timer(1).interval(), 250ms);
    }

    void aReplyAfterTheReleaseIsShownUntilTheDisplayClear()
    {
        FormFixture f;
        f.load();
        hold(f, kKeystoneUp, 100);
        f.advance(300);
        f.device->inject(QByteArray(1, 6));
        QCOMPARE(f.caption(kRxdLine), QStringLiteral(" ACK "));
        f.advance(699);
        QCOMPARE(f.caption(kRxdLine), QStringLiteral(" ACK "));
        f.advance(1);
        QCOMPARE(f.caption(kRxdLine), QString());
        f.device->inject(QByteArray(1, 6)); // later still: stays
        f.advance(5000);
        QCOMPARE(f.caption(kRxdLine), QStringLiteral(" ACK ACK "));
    }

    void aSilentProjectorShowsXsWithinEachPeriod()
    {
        FormFixture f;
        f.load();
        press(f, kVolUp);
        f.advance(199);
        QCOMPARE(f.caption(kRxdLine), QString());
        f.advance(1);
        QCOMPARE(f.caption(kRxdLine), QStringLiteral(" X X X X"));
        QCOMPARE(f.caption(kTxdLine), QStringLiteral(" C 0 9 CR "));
        f.advance(45);
        QCOMPARE(f.caption(kTxdLine), QString());
        QCOMPARE(f.caption(kRxdLine), QString());
        f.advance(5);
        QCOMPARE(f.caption(kTxdLine), QStringLiteral(" C 0 9 CR "));
        release(f, kVolUp);
    }

    void anyMouseButtonAndModifierHolds_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("right") << int(Qt::RightButton) << 0;
        QTest::newRow("middle") << int(Qt::MiddleButton) << 0;
        QTest::newRow("shift") << int(Qt::LeftButton) << int(Qt::ShiftModifier);
        QTest::newRow("ctrl") << int(Qt::LeftButton) << int(Qt::ControlModifier);
        QTest::newRow("alt right") << int(Qt::RightButton) << int(Qt::AltModifier);
    }
    void anyMouseButtonAndModifierHolds()
    {
        QFETCH(int, button);
        QFETCH(int, modifiers);
        FormFixture f;
        f.load();
        FrameLog log(f);
        const auto b = Qt::MouseButton(button);
        press(f, kVolUp, b, Qt::KeyboardModifiers(modifiers));
        f.advance(1010);
        release(f, kVolUp, b);
        QCOMPARE(log.times(), every(250, 5));
    }

    void aSecondMouseButtonDuringAHoldChangesNothing()
    {
        FormFixture f;
        f.load();
        FrameLog log(f);
        press(f, kVolUp);
        press(f, kVolUp, Qt::RightButton);
        f.advance(300);
        release(f, kVolUp, Qt::RightButton);
        f.advance(300);
        release(f, kVolUp);
        QCOMPARE(log.times(), every(250, 3));
    }

    void releasingOtherButtonsKeepsTheContext()
    {
        FormFixture f;
        f.load();
        f.click(kMenuOn);
        for (const char* name : {kVolUp, kVolDown, kBrightUp, kBrightDown, kKeystoneUp, kKeystoneDown, kSelect, kUp,
                                 kDown, kRight, kLeft}) {
            press(f, name);
            const Millis period = f.form->timer(1).interval();
            f.advance(10);
            release(f, name);
            QCOMPARE(f.form->state().AdjustMode, 1);
            QCOMPARE(f.form->timer(1).interval(), period);
        }
    }

    void aLostReleaseStillEndsTheHold()
    {
        FormFixture f;
        f.load();
        QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
        FrameLog log(f);
        press(f, kVolUp);
        f.advance(300);
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QCOMPARE(f.form->state().RepeatCode, 0);
        QVERIFY(!f.form->timer(1).enabled());
        f.advance(1000);
        QCOMPARE(log.frames.size(), 2);
        QVERIFY(!f.control<CommandButton>(kVolUp)->isDown());
    }

    void destroyingTheWindowDuringAHoldIsSafe()
    {
        FormFixture f;
        f.load();
        press(f, kVolUp);
        f.form.reset();
        f.advance(1000);
    }

    void hidingTheWindowEndsTheHold()
    {
        FormFixture f;
        f.load();
        FrameLog log(f);
        press(f, kSelect);
        f.form->hide();
        f.advance(2000);
        QCOMPARE(log.frames.size(), 1);
        QCOMPARE(f.form->state().RepeatCode, 0);
    }
};

QTEST_MAIN(TestHoldRepeat)
#include "test_hold_repeat.moc"
