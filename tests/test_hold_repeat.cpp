// Press-and-hold: what a hold sends and when, and the periods it leaves
// behind, on the hand-driven clock with real mouse events.
#include "tests/support/form_fixture.h"
#include "ui/command_button.h"
#include "ui/timer.h"

#include <QTest>

using namespace orvik;
using namespace std::chrono_literals;
using test::FormFixture;

namespace {

// Every frame written to the line, with the clock's time.
struct FrameLog {
    explicit FrameLog(FormFixture& f)
        : f(f)
    {
        connection = QObject::connect(f.device, &test::FakeSerialDevice::wrote, f.device,
                                      [this](const QByteArray& bytes) {
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
        press(f, "Command1");
        QCOMPARE(f.caption("Label11"), QStringLiteral(" C 0 9 CR "));
        f.advance(200);
        QCOMPARE(f.caption("Label11"), QStringLiteral(" C 0 9 CR "));
        release(f, "Command1");
        QCOMPARE(log.frames.size(), 1);
        QCOMPARE(log.frames.front().second, QByteArray("C09\r"));
        QCOMPARE(f.caption("Label11"), QString());
    }

    void volumeRepeatsEvery250ms()
    {
        FormFixture f;
        f.load();
        FrameLog log(f);
        hold(f, "Command1", 1010);
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
        hold(f, "Command6", 1600);
        QCOMPARE(log.times(), every(500, 4));
        QCOMPARE(log.frames.back().second, QByteArray("C3F\r"));
    }

    void arrowsAtStartRepeatEvery200msWithNormalTimeouts()
    {
        FormFixture f;
        f.load();
        FrameLog log(f);
        press(f, "Command5");
        QCOMPARE(f.form->timer(2).interval(), 500ms);
        QCOMPARE(f.form->timer(4).interval(), 1000ms);
        f.advance(650);
        release(f, "Command5");
        QCOMPARE(log.times(), every(200, 4));
        QCOMPARE(log.frames.front().second, QByteArray("C3C\r"));
    }

    void afterMenuOnArrowsUseTheMenuContext()
    {
        FormFixture f;
        f.load();
        f.click("Command23");
        f.advance(2000);
        FrameLog log(f);
        press(f, "Command8");
        QCOMPARE(f.form->timer(2).interval(), 150ms);
        QCOMPARE(f.form->timer(4).interval(), 190ms);
        f.advance(450);
        release(f, "Command8");
        QCOMPARE(log.times(), every(200, 3));
        QCOMPARE(log.frames.front().second, QByteArray("C3A\r"));
    }

    void afterAZoomReleaseArrowsRepeatEvery5ms()
    {
        FormFixture f;
        f.load();
        FrameLog zoom(f);
        hold(f, "Command48", 600);
        QCOMPARE(zoom.times(), every(250, 3));
        QCOMPARE(f.form->state().AdjustMode, 3);
        QCOMPARE(f.form->timer(1).interval(), 5ms);
        f.advance(2000);

        FrameLog log(f);
        press(f, "Command7");
        QCOMPARE(f.form->timer(2).interval(), 5ms);
        QCOMPARE(f.form->timer(4).interval(), 5ms);
        f.advance(1000);
        release(f, "Command7");
        QCOMPARE(log.times(), every(5, 201));
        QCOMPARE(log.frames.back().second, QByteArray("C3D\r"));
    }

    void periodsOutliveTheHoldThatWroteThem()
    {
        FormFixture f;
        f.load();
        f.click("Command13"); // A-IMAGE: context 1, period 200
        hold(f, "Command2", 100); // VOL -: period 250
        f.advance(2000);
        {
            FrameLog log(f);
            press(f, "Command9");
            QCOMPARE(f.form->timer(2).interval(), 150ms);
            QCOMPARE(f.form->timer(4).interval(), 190ms);
            f.advance(600);
            release(f, "Command9");
            QCOMPARE(log.times(), every(250, 3));
        }
        hold(f, "Command6", 100); // SELECT: period 500
        f.advance(2000);
        FrameLog log(f);
        hold(f, "Command5", 1100);
        QCOMPARE(log.times(), every(500, 3));
    }

    void aReleaseRestoresTheExchange()
    {
        FormFixture f;
        f.load();
        press(f, "Command30");
        f.advance(300);
        f.device->inject("x");
        const QString sent = f.form->state().SendBuffer;
        release(f, "Command30");
        const FormState& s = f.form->state();
        QCOMPARE(s.RepeatCode, 0);
        QVERIFY(!f.form->timer(1).enabled());
        QVERIFY(!f.form->timer(2).enabled());
        QCOMPARE(f.form->timer(2).interval(), 500ms);
        QVERIFY(f.form->timer(4).enabled());
        QCOMPARE(f.form->timer(4).interval(), 1000ms);
        QCOMPARE(f.caption("Label11"), QString());
        QCOMPARE(f.caption("Label12"), QString());
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
        hold(f, "Command50", 100);
        f.advance(300);
        f.device->inject(QByteArray(1, 6));
        QCOMPARE(f.caption("Label12"), QStringLiteral(" ACK "));
        f.advance(699);
        QCOMPARE(f.caption("Label12"), QStringLiteral(" ACK "));
        f.advance(1);
        QCOMPARE(f.caption("Label12"), QString());
        f.device->inject(QByteArray(1, 6)); // later still: stays
        f.advance(5000);
        QCOMPARE(f.caption("Label12"), QStringLiteral(" ACK ACK "));
    }

    void aSilentProjectorShowsXsWithinEachPeriod()
    {
        FormFixture f;
        f.load();
        press(f, "Command1");
        f.advance(199);
        QCOMPARE(f.caption("Label12"), QString());
        f.advance(1);
        QCOMPARE(f.caption("Label12"), QStringLiteral(" X X X X"));
        QCOMPARE(f.caption("Label11"), QStringLiteral(" C 0 9 CR "));
        f.advance(45);
        QCOMPARE(f.caption("Label11"), QString());
        QCOMPARE(f.caption("Label12"), QString());
        f.advance(5);
        QCOMPARE(f.caption("Label11"), QStringLiteral(" C 0 9 CR "));
        release(f, "Command1");
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
        press(f, "Command1", b, Qt::KeyboardModifiers(modifiers));
        f.advance(1010);
        release(f, "Command1", b);
        QCOMPARE(log.times(), every(250, 5));
    }

    void aSecondMouseButtonDuringAHoldChangesNothing()
    {
        FormFixture f;
        f.load();
        FrameLog log(f);
        press(f, "Command1");
        press(f, "Command1", Qt::RightButton);
        f.advance(300);
        release(f, "Command1", Qt::RightButton);
        f.advance(300);
        release(f, "Command1");
        QCOMPARE(log.times(), every(250, 3));
    }

    void releasingOtherButtonsKeepsTheContext()
    {
        FormFixture f;
        f.load();
        f.click("Command23");
        for (const char* name : {"Command1", "Command2", "Command30", "Command42", "Command50",
                                 "Command51", "Command6", "Command5", "Command7", "Command8", "Command9"}) {
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
        press(f, "Command1");
        f.advance(300);
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QCOMPARE(f.form->state().RepeatCode, 0);
        QVERIFY(!f.form->timer(1).enabled());
        f.advance(1000);
        QCOMPARE(log.frames.size(), 2);
        QVERIFY(!f.control<CommandButton>("Command1")->isDown());
    }

    void destroyingTheWindowDuringAHoldIsSafe()
    {
        FormFixture f;
        f.load();
        press(f, "Command1");
        f.form.reset();
        f.advance(1000);
    }

    void hidingTheWindowEndsTheHold()
    {
        FormFixture f;
        f.load();
        FrameLog log(f);
        press(f, "Command6");
        f.form->hide();
        f.advance(2000);
        QCOMPARE(log.frames.size(), 1);
        QCOMPARE(f.form->state().RepeatCode, 0);
    }
};

QTEST_MAIN(TestHoldRepeat)
#include "test_hold_repeat.moc"
