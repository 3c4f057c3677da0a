// One-shot buttons and status queries, clicked as the operator does.
#include "panel/timer.h"
#include "tests/support/controls.h"
#include "tests/support/form_fixture.h"
#include "widgets/command_button.h"

#include <QLabel>
#include <QTest>

using namespace orvik;
using namespace orvik::test;
using namespace std::chrono_literals;
using test::FormFixture;

class TestCommandButtons : public QObject {
    Q_OBJECT
private slots:
    void everyButtonSendsItsFrame_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QByteArray>("frame");
        const auto row = [](const char* control, const char* caption, const char* code) {
            QTest::newRow(control) << QString::fromLatin1(control) << QString::fromUtf8(caption)
                                   << QByteArray(code) + '\r';
        };
        row("Command17", "ON", "C00");
        row("Command18", "OFF", "C02");
        row("Command27", "PC", "C05");
        row("Command29", "Video", "C07");
        row("Command19", "ON", "C0B");
        row("Command20", "OFF", "C0C");
        row("Command21", "ON", "C0D");
        row("Command22", "OFF", "C0E");
        row("Command31", "Normal", "C0F");
        row("Command32", "Wide", "C10");
        row("Command23", "ON", "C1C");
        row("Command24", "OFF", "C1D");
        row("Command25", "ON", "C43");
        row("Command26", "OFF", "C44");
        row("Command13", "A-IMAGE", "C89");
        row("Command14", "P-TIMER", "C8A");
        row("Command4", "NORMAL", "C1F");
        row("Command3", "DISPLAY CLEAR", "C1E");
        row("Command52", "C01", "C01");
        row("Command44", "STATUS", "CR0");
        row("Command45", "MODE", "CR1");
        row("Command46", "L-TIME", "CR3");
        row("Command47", "SETTING", "CR4");
    }
    void everyButtonSendsItsFrame()
    {
        QFETCH(QString, control);
        QFETCH(QString, caption);
        QFETCH(QByteArray, frame);
        FormFixture f;
        f.load();
        QCOMPARE(f.caption(control.toLatin1().constData()), caption);
        f.click(control.toLatin1().constData());
        QCOMPARE(f.takeWritten(), frame);
        QCOMPARE(f.form->state().SendBuffer, QString::fromLatin1(frame));
        QCOMPARE(f.form->state().RepeatCode, 0);
        // The keyboard clicks them too.
        auto* button = f.control(control.toLatin1().constData());
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Space);
        QCOMPARE(f.takeWritten(), frame);
    }

    void twoQuickClicksSendTwoFrames()
    {
        FormFixture f;
        f.load();
        f.click(kPowerOn);
        f.click(kPowerOn);
        QCOMPARE(f.takeWritten(), QByteArray("C00\rC00\r"));
    }

    void aImageAndMenuOnSetTheArrowContext()
    {
        for (const char* name : {kAImage, kMenuOn}) {
            FormFixture f;
            f.load();
            f.form->timer(1).setInterval(5ms);
            f.form->state().AdjustMode = 3;
            f.click(name);
            QCOMPARE(f.form->state().AdjustMode, 1);
            QCOMPARE(f.form->timer(1).interval(), 200ms);
            QVERIFY(!f.form->timer(1).enabled());
        }
    }

    void menuOffLeavesTheContextAlone()
    {
        FormFixture f;
        f.load();
        f.form->timer(1).setInterval(5ms);
        f.form->state().AdjustMode = 3;
        f.click(kMenuOff);
        QCOMPARE(f.form->state().AdjustMode, 3);
        QCOMPARE(f.form->timer(1).interval(), 5ms);
    }

    void aQueryIsDecodedAndClearedWithTheDisplay()
    {
        FormFixture f;
        f.load();
        f.click(kLampTimeQuery);
        f.advance(50);
        f.device->inject("12");
        QCOMPARE(f.caption(kStatusLine), QStringLiteral(" 1 2  Hour Use"));
        f.device->inject("34\r");
        QCOMPARE(f.caption(kStatusLine), QStringLiteral(" 1 2 3 4 Hour Use"));
        f.advance(949);
        QCOMPARE(f.caption(kStatusLine), QStringLiteral(" 1 2 3 4 Hour Use"));
        f.advance(1);
        QCOMPARE(f.caption(kStatusLine), QString());
    }

    void aClickBeforeTheReplyStopsItsDecoding()
    {
        FormFixture f;
        f.load();
        f.click(kStatusQuery);
        f.click(kFreezeOn);
        f.device->inject("00\r");
        QCOMPARE(f.caption(kRxdLine), QStringLiteral(" 0 0 CR "));
        QCOMPARE(f.caption(kStatusLine), QString());
    }

    void anUnmatchedReplyLeavesTheStatusLine()
    {
        FormFixture f;
        f.load();
        f.click(kModeQuery);
        f.device->inject("3\r");
        QCOMPARE(f.caption(kStatusLine), QStringLiteral(" Video"));
        f.advance(500);
        f.click(kModeQuery);
        f.device->inject("2\r");
        QCOMPARE(f.caption(kStatusLine), QStringLiteral(" Video"));
    }

    void holdButtonsHaveNoClick()
    {
        FormFixture f;
        f.load();
        for (const char* hold : kHoldButtons) {
            auto* button = f.control<CommandButton>(hold);
            button->setFocus();
            QTest::keyClick(button, Qt::Key_Space);
            QTest::keyClick(button, Qt::Key_Enter);
        }
        QCOMPARE(f.takeWritten(), QByteArray());
        QCOMPARE(f.form->state().RepeatCode, 0);
    }

    void captionsAreShownAsPlainText()
    {
        FormFixture f;
        f.load();
        f.device->inject("<b>x</b>&amp;");
        QCOMPARE(f.control<QLabel>(kRxdLine)->textFormat(), Qt::PlainText);
        QCOMPARE(f.caption(kRxdLine), QStringLiteral(" < b > x < / b > & a m p ; "));
    }
};

QTEST_MAIN(TestCommandButtons)
#include "test_command_buttons.moc"
