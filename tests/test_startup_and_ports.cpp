// Start-up, the port and speed options, the settings frame and END.
#include "tests/support/controls.h"
#include "tests/support/form_fixture.h"
#include "widgets/frame.h"
#include "widgets/option_button.h"

#include <QScreen>
#include <QTest>

using namespace orvik;
using namespace orvik::test;
using test::FormFixture;

class TestStartupAndPorts : public QObject {
    Q_OBJECT

    static bool selected(const FormFixture& f, const char* option) { return f.control<OptionButton>(option)->value(); }
    static bool frameShown(const FormFixture& f) { return f.control(kPortFrame)->isVisibleTo(f.form.get()); }

private slots:
    void beforeStartUpOnly19200IsSelected()
    {
        FormFixture f;
        QVERIFY(selected(f, kBaud19200));
        QVERIFY(!selected(f, kCom1));
        QVERIFY(!selected(f, kCom2));
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
        QVERIFY(selected(f, kCom1));
        QVERIFY(selected(f, kBaud19200));
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
        f.click(kComButton);
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
        f.click(kComButton);
        f.click(kCom2);
        QVERIFY(f.form->MSComm1().portOpen());
        QCOMPARE(f.device->openedPath, QStringLiteral("/dev/fake2"));
        QCOMPARE(f.form->MSComm1().commPort(), 2);
        QVERIFY(!frameShown(f));
        f.click(kComButton);
        f.click(kCom1);
        QCOMPARE(f.device->openedPath, QStringLiteral("/dev/fake1"));
    }

    void speedChangesTheOpenPortWithoutClosingIt()
    {
        FormFixture f;
        f.load();
        const int openings = f.device->openings;
        f.click(kComButton);
        f.click(kBaud9600);
        QCOMPARE(f.device->settings.baud, 9600);
        QCOMPARE(f.form->state().PortSettings, QStringLiteral("9600,N,8,1"));
        QCOMPARE(f.device->openings, openings);
        QVERIFY(f.form->MSComm1().portOpen());
        QVERIFY(!frameShown(f));
        f.click(kComButton);
        f.click(kBaud19200);
        QCOMPARE(f.device->settings.baud, 19200);
        // A port switch then keeps the chosen speed.
        f.click(kComButton);
        f.click(kBaud9600);
        f.click(kComButton);
        f.click(kCom2);
        QCOMPARE(f.device->settings.baud, 9600);
    }

    void aFailedSwitchWarnsAndLeavesThePortClosed()
    {
        FormFixture f({QStringLiteral("/dev/fake2")});
        f.load();
        f.click(kComButton);
        f.click(kCom2);
        QCOMPARE(f.warnings.shown,
                 QStringList{QStringLiteral("COM2 (/dev/fake2): No such file or directory. No serial ports found: "
                                            "plug in the adapter, or choose a device with --com2 "
                                            "DEVICE or ORVIK_COM2=DEVICE.")});
        QVERIFY(!f.form->MSComm1().portOpen());
        QCOMPARE(f.form->MSComm1().commPort(), 1);
        QVERIFY(frameShown(f));
        QVERIFY(selected(f, kCom2));

        // Closed for good: choosing a port now changes only its number.
        f.click(kCom1);
        QVERIFY(!f.form->MSComm1().portOpen());
        QCOMPARE(f.form->MSComm1().commPort(), 1);
        QVERIFY(!frameShown(f));
        QCOMPARE(f.warnings.shown.size(), 1);
    }

    void aFailedStartWarnsOnceAndOpensTheWindowAnyway()
    {
        FormFixture f({QStringLiteral("/dev/fake1")});
        f.load();
        QCOMPARE(f.warnings.shown,
                 QStringList{QStringLiteral("COM1 (/dev/fake1): No such file or directory. No serial ports found: "
                                            "plug in the adapter, or choose a device with --com1 "
                                            "DEVICE or ORVIK_COM1=DEVICE.")});
        QVERIFY(!f.form->MSComm1().portOpen());
        QVERIFY(selected(f, kCom1));
        QCOMPARE(f.form->MSComm1().commPort(), 2); // the fall-back port
        QVERIFY(!frameShown(f));
        QVERIFY(f.form->isVisible());

        // Sends still run the exchange: the operator sees the Xs.
        f.click(kPowerOn);
        QCOMPARE(f.caption(kTxdLine), QStringLiteral(" C 0 0 CR "));
        f.advance(500);
        QCOMPARE(f.caption(kRxdLine), QStringLiteral(" X X X X"));
        QCOMPARE(f.warnings.shown.size(), 1);
    }

    // No box interrupts a hold when the device goes; a port switch then
    // works as from an open port.
    void aLostDeviceStaysOpenSilentlyAndAPortSwitchReopens()
    {
        FormFixture f;
        f.load();
        f.device->pull();
        QVERIFY(f.form->MSComm1().portOpen());
        f.click(kPowerOn);
        QCOMPARE(f.takeWritten(), QByteArray());
        f.advance(500);
        QCOMPARE(f.caption(kRxdLine), QStringLiteral(" X X X X"));
        QVERIFY(f.warnings.shown.isEmpty());

        f.click(kComButton);
        f.click(kCom2);
        QCOMPARE(f.device->openedPath, QStringLiteral("/dev/fake2"));
        f.click(kPowerOn);
        QCOMPARE(f.takeWritten(), QByteArray("C00\r"));
        QVERIFY(f.warnings.shown.isEmpty());
    }

    void endClosesThePortAndEndsTheProgram()
    {
        FormFixture f;
        f.load();
        f.click(kEnd);
        QVERIFY(!f.form->MSComm1().portOpen());
        QVERIFY(!f.form->isVisible());
        QCOMPARE(f.exitCodes, QList<int>{0});
    }

    void endWorksWithThePortAlreadyClosed()
    {
        FormFixture f({QStringLiteral("/dev/fake1")});
        f.load();
        f.click(kEnd);
        QCOMPARE(f.exitCodes, QList<int>{0});
    }
};

QTEST_MAIN(TestStartupAndPorts)
#include "test_startup_and_ports.moc"
