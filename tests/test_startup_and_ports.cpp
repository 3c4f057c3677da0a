// Start-up, the port and speed options, the settings frame and END.
#include "tests/support/form_fixture.h"
#include "ui/frame.h"
#include "ui/option_button.h"

#include <QScreen>
#include <QTest>

using namespace orvik;
using test::FormFixture;

class TestStartupAndPorts : public QObject {
    Q_OBJECT

    static bool selected(const FormFixture& f, const char* option)
    {
        return f.control<OptionButton>(option)->value();
    }
    static bool frameShown(const FormFixture& f) { return f.control("Frame8")->isVisibleTo(f.form.get()); }

private slots:
    void beforeStartUpOnly19200IsSelected()
    {
        FormFixture f;
        QVERIFY(selected(f, "Option3"));
        QVERIFY(!selected(f, "Option1"));
        QVERIFY(!selected(f, "Option2"));
        QVERIFY(!frameShown(f));
        QVERIFY(!f.form->MSComm1().portOpen());
    }

    void aNormalStartOpensCom1At19200InTheCompactWindow()
    {
        FormFixture f;
        f.load();
        QVERIFY(f.form->MSComm1().portOpen());
        QCOMPARE(f.device->openedPath, QStringLiteral("/dev/fake1"));
        QCOMPARE(f.device->settings.baud, 19200);
        QCOMPARE(f.form->MSComm1().settings(), QStringLiteral("19200,N,8,1"));
        QCOMPARE(f.form->state().PortSettings, QStringLiteral("19200,N,8,1"));
        QCOMPARE(f.device->openings, 2); // opened, then reopened by the COM1 option
        QVERIFY(selected(f, "Option1"));
        QVERIFY(selected(f, "Option3"));
        QVERIFY(!frameShown(f));
        QVERIFY(f.warnings.shown.isEmpty());
        QCOMPARE(f.form->size(), QSize(630, 322));
        QCOMPARE(f.form->windowTitle(), QStringLiteral("ORVIK   QA3 & QB3 & QC3  CONTROL  Ver.1.30"));
    }

    void theWindowIsCentredForItsFullHeight()
    {
        FormFixture f;
        f.load();
        const QRect screen = f.form->screen()->geometry();
        QCOMPARE(f.form->pos().x(), screen.x() + qRound((screen.width() * 15 - 9540) / 2.0 / 15));
        QCOMPARE(f.form->pos().y(), screen.y() + qRound((screen.height() * 15 - 7200) / 2.0 / 15));
    }

    void comShowsTheFrameForFiveSeconds()
    {
        FormFixture f;
        f.load();
        f.click("Command33");
        QVERIFY(frameShown(f));
        f.advance(4999);
        QVERIFY(frameShown(f));
        f.advance(1);
        QVERIFY(!frameShown(f));
        f.advance(10000);
        QVERIFY(!frameShown(f));
    }

    void com2SwitchesTheOpenPortAndHidesTheFrame()
    {
        FormFixture f;
        f.load();
        f.click("Command33");
        f.click("Option2");
        QVERIFY(f.form->MSComm1().portOpen());
        QCOMPARE(f.device->openedPath, QStringLiteral("/dev/fake2"));
        QCOMPARE(f.form->MSComm1().commPort(), 2);
        QVERIFY(!frameShown(f));
        f.click("Command33");
        f.click("Option1");
        QCOMPARE(f.device->openedPath, QStringLiteral("/dev/fake1"));
    }

    void speedChangesTheOpenPortWithoutClosingIt()
    {
        FormFixture f;
        f.load();
        const int openings = f.device->openings;
        f.click("Command33");
        f.click("Option4");
        QCOMPARE(f.device->settings.baud, 9600);
        QCOMPARE(f.form->state().PortSettings, QStringLiteral("9600,N,8,1"));
        QCOMPARE(f.device->openings, openings);
        QVERIFY(f.form->MSComm1().portOpen());
        QVERIFY(!frameShown(f));
        f.click("Command33");
        f.click("Option3");
        QCOMPARE(f.device->settings.baud, 19200);
        // A port switch then keeps the chosen speed.
        f.click("Command33");
        f.click("Option4");
        f.click("Command33");
        f.click("Option2");
        QCOMPARE(f.device->settings.baud, 9600);
    }

    void aFailedSwitchWarnsAndLeavesThePortClosed()
    {
        FormFixture f({QStringLiteral("/dev/fake2")});
        f.load();
        f.click("Command33");
        f.click("Option2");
        QCOMPARE(f.warnings.shown, QStringList{QStringLiteral("COM2 (/dev/fake2): No such file or directory")});
        QVERIFY(!f.form->MSComm1().portOpen());
        QCOMPARE(f.form->MSComm1().commPort(), 1);
        QVERIFY(frameShown(f));
        QVERIFY(selected(f, "Option2"));

        // Closed for good: choosing a port now changes only its number.
        f.click("Option1");
        QVERIFY(!f.form->MSComm1().portOpen());
        QCOMPARE(f.form->MSComm1().commPort(), 1);
        QVERIFY(!frameShown(f));
        QCOMPARE(f.warnings.shown.size(), 1);
    }

    void aFailedStartWarnsOnceAndOpensTheWindowAnyway()
    {
        FormFixture f({QStringLiteral("/dev/fake1")});
        f.load();
        QCOMPARE(f.warnings.shown, QStringList{QStringLiteral("COM1 (/dev/fake1): No such file or directory")});
        QVERIFY(!f.form->MSComm1().portOpen());
        QVERIFY(selected(f, "Option1"));
        QCOMPARE(f.form->MSComm1().commPort(), 2); // the fall-back port
        QVERIFY(!frameShown(f));
        QVERIFY(f.form->isVisible());

        // Sends still run the exchange: the operator sees the Xs.
        f.click("Command17");
        QCOMPARE(f.caption("Label11"), QStringLiteral(" C 0 0 CR "));
        f.advance(500);
        QCOMPARE(f.caption("Label12"), QStringLiteral(" X X X X"));
        QCOMPARE(f.warnings.shown.size(), 1);
    }

    void aVanishedDeviceLeavesThePortClosedWithoutAWord()
    {
        FormFixture f;
        f.load();
        f.device->pull();
        QVERIFY(!f.form->MSComm1().portOpen());
        f.click("Command17");
        f.advance(500);
        QCOMPARE(f.caption("Label12"), QStringLiteral(" X X X X"));
        QVERIFY(f.warnings.shown.isEmpty());
    }

    void endClosesThePortAndEndsTheProgram()
    {
        FormFixture f;
        f.load();
        f.click("Command16");
        QVERIFY(!f.form->MSComm1().portOpen());
        QVERIFY(!f.form->isVisible());
        QCOMPARE(f.exitCodes, QList<int>{0});
    }

    void endWorksWithThePortAlreadyClosed()
    {
        FormFixture f({QStringLiteral("/dev/fake1")});
        f.load();
        f.click("Command16");
        QCOMPARE(f.exitCodes, QList<int>{0});
    }
};

QTEST_MAIN(TestStartupAndPorts)
#include "test_startup_and_ports.moc"
