// The hidden data panel: Ctrl+H, the toggle button and what each height
// lets the operator see.
#include "panel/timer.h"
#include "tests/support/controls.h"
#include "tests/support/form_fixture.h"
#include "widgets/command_button.h"

#include <QTest>

using namespace orvik;
using namespace orvik::test;
using test::FormFixture;

class TestDataPanel : public QObject {
    Q_OBJECT

    // Whether any part of the control lies inside the window's client area.
    static bool inSight(const FormFixture& f, const char* name)
    {
        QWidget* w = f.control(name);
        const QRect onForm(w->mapTo(f.form.get(), QPoint(0, 0)), w->size());
        return w->isVisibleTo(f.form.get()) && f.form->rect().intersects(onForm);
    }
    static void press(FormFixture& f, Qt::Key key, Qt::KeyboardModifiers modifiers)
    {
        QTest::keyClick(f.form->focusWidget(), key, modifiers);
    }

private slots:
    void theCompactWindowHidesTheDataPanel()
    {
        FormFixture f;
        f.load();
        QCOMPARE(f.form->height(), 322);
        for (const char* name :
             {"Frame9", kTxdLine, kRxdLine, kDataToggle, kStatusQuery, kSettingQuery, "Frame15", kStatusLine, kC01})
            QVERIFY2(!inSight(f, name), name);
        for (const char* name : {kPowerOn, kEnd, kComButton, kDisplayClear, "Image1"})
            QVERIFY2(inSight(f, name), name);
        QCOMPARE(f.form->focusWidget(), f.control(kPowerOn));
    }

    void ctrlHOpensTheWholeWindowFromAnyFocus()
    {
        FormFixture f;
        f.load();
        f.control(kVolUp)->setFocus();
        press(f, Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(f.form->height(), 455);
        QCOMPARE(f.caption(kDataToggle), QStringLiteral("CLOSE"));
        for (const char* name : {kTxdLine, kRxdLine, kDataToggle, kStatusQuery, kStatusLine, kC01})
            QVERIFY2(inSight(f, name), name);
        press(f, Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(f.form->height(), 455);
    }

    void otherModifiersDoNothing_data()
    {
        QTest::addColumn<int>("modifiers");
        QTest::newRow("plain H") << int(Qt::NoModifier);
        QTest::newRow("Shift+H") << int(Qt::ShiftModifier);
        QTest::newRow("Ctrl+Shift+H") << int(Qt::ControlModifier | Qt::ShiftModifier);
        QTest::newRow("Ctrl+Alt+H") << int(Qt::ControlModifier | Qt::AltModifier);
        QTest::newRow("Alt+H") << int(Qt::AltModifier);
    }
    void otherModifiersDoNothing()
    {
        QFETCH(int, modifiers);
        FormFixture f;
        f.load();
        press(f, Qt::Key_H, Qt::KeyboardModifiers(modifiers));
        press(f, Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(f.form->height(), 322);
        QVERIFY(!f.control(kDataToggle)->isVisibleTo(f.form.get()));
    }

    void ctrlHWithTheKeypadOrMetaStillCounts()
    {
        // Only Shift, Ctrl and Alt take part in the test.
        FormFixture f;
        f.load();
        press(f, Qt::Key_H, Qt::ControlModifier | Qt::MetaModifier);
        QCOMPARE(f.form->height(), 455);
    }

    void theKeyStillReachesTheFocusedControl()
    {
        FormFixture f;
        f.load();
        int clicks = 0;
        auto* on = f.control<CommandButton>(kPowerOn);
        connect(on, &CommandButton::Click, this, [&] { ++clicks; });
        QTest::keyClick(on, Qt::Key_Space);
        QCOMPARE(clicks, 1);
        QCOMPARE(f.takeWritten(), QByteArray("C00\r"));
    }

    void theToggleSwitchesCompactAndDataHeights()
    {
        FormFixture f;
        f.load();
        press(f, Qt::Key_H, Qt::ControlModifier);
        f.click(kDataToggle); // "CLOSE"
        QCOMPARE(f.form->height(), 322);
        QCOMPARE(f.caption(kDataToggle), QStringLiteral("データを表示する"));
        QVERIFY(f.control(kDataToggle)->isVisibleTo(f.form.get()));
        QVERIFY(!inSight(f, kDataToggle));

        // Out of sight, it still takes the focus and the keyboard.
        auto* toggle = f.control(kDataToggle);
        toggle->setFocus();
        QTest::keyClick(toggle, Qt::Key_Space);
        QCOMPARE(f.form->height(), 418);
        QCOMPARE(f.caption(kDataToggle), QStringLiteral("データを表示しない"));
        QVERIFY(inSight(f, kRxdLine));
        QVERIFY(inSight(f, kSettingQuery));
        QTest::keyClick(toggle, Qt::Key_Space);
        QCOMPARE(f.form->height(), 322);
        QCOMPARE(f.caption(kDataToggle), QStringLiteral("データを表示する"));
    }

    void theThresholdCountsAsOpen()
    {
        FormFixture f;
        f.load();
        f.form->setHeight(Form1::kOpenThreshold);
        f.form->Command34_Click();
        QCOMPARE(f.form->height(), 322);
        f.form->setHeight(Form1::kOpenThreshold - 15);
        f.form->Command34_Click();
        QCOMPARE(f.form->height(), 418);
    }

    void theToggleClosesAnOpenSettingsFrameFiveSecondsLater()
    {
        FormFixture f;
        f.load();
        press(f, Qt::Key_H, Qt::ControlModifier);
        f.click(kComButton);
        f.advance(4000);
        f.click(kDataToggle); // restarts the countdown
        f.advance(4999);
        QVERIFY(f.control(kPortFrame)->isVisibleTo(f.form.get()));
        f.advance(1);
        QVERIFY(!f.control(kPortFrame)->isVisibleTo(f.form.get()));
        QVERIFY(!f.form->timer(3).enabled());

        f.click(kDataToggle); // frame already closed: the tick only stops the timer
        QVERIFY(f.form->timer(3).enabled());
        f.advance(5000);
        QVERIFY(!f.form->timer(3).enabled());
        QVERIFY(!f.control(kPortFrame)->isVisibleTo(f.form.get()));
    }

    void theLinesAreWrittenWhileOutOfSight()
    {
        FormFixture f;
        f.load();
        f.click(kStatusQuery); // out of sight but clickable from code
        f.device->inject("00\r");
        press(f, Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(f.caption(kTxdLine), QStringLiteral(" C R 0 CR "));
        QCOMPARE(f.caption(kRxdLine), QStringLiteral(" 0 0 CR "));
        QCOMPARE(f.caption(kStatusLine), QStringLiteral(" Power ON"));
    }
};

QTEST_MAIN(TestDataPanel)
#include "test_data_panel.moc"
