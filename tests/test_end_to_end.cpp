// The real window, the real serial port and the real clock against the
// simulated projector on a pseudo-terminal. Timing tolerances are generous.
#include "app/form1.h"
#include "core/clock.h"
#include "link/port_device.h"
#include "panel/borrowing_device.h"
#include "panel/caption.h"
#include "tests/support/controls.h"
#include "tests/support/recording_warning_box.h"
#include "tools/sim/pty_projector.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <csignal>
#include <termios.h>
#include <tuple>

using namespace orvik;
using namespace orvik::test;
using sim::PtyProjector;

namespace {

struct Panel {
    explicit Panel(PtyProjector::Options options = {})
        : projector(options)
    {
        const QString path = projector.devicePath();
        form = makeFormOnDevice(clock, warnings, path, [this](int code) { exitCodes.append(code); });
        form->Form_Load();
        form->show();
    }
    QWidget* control(const char* name) const { return form->control(QLatin1String(name)); }
    QString caption(const char* name) const { return dynamic_cast<Caption*>(control(name))->caption(); }
    void click(const char* name) { QTest::mouseClick(control(name), Qt::LeftButton); }
    void openDataPanel() { QTest::keyClick(form->focusWidget(), Qt::Key_H, Qt::ControlModifier); }
    int framesOf(const QByteArray& frame) const { return int(projector.received().count(frame)); }

    PtyProjector projector;
    SystemClock clock;
    test::RecordingWarningBox warnings;
    QList<int> exitCodes;
    std::unique_ptr<Form1> form;
};

// The lock file of a device, as the panel and the service take it.
QString lockFileOf(QString device) { return QStringLiteral("/run/lock/LCK..") + device.mid(5).replace(u'/', u'_'); }

// Counts the paintings of a window.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(int& count)
        : count_(count)
    {
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        count_ += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }

private:
    int& count_;
};

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void buttonsPutTheirFramesOnTheLine()
    {
        Panel p;
        QVERIFY(p.form->MSComm1().portOpen());
        for (const char* name : {kPowerOn, kPowerOff, kInputPc, kInputVideo, kDisplayClear, kC01})
            p.click(name);
        QTRY_COMPARE(p.projector.received(), QByteArray("C00\rC02\rC05\rC07\rC1E\rC01\r"));
        QTRY_COMPARE(p.caption(kRxdLine).startsWith(QStringLiteral(" ACK")), true);
        QTRY_COMPARE_WITH_TIMEOUT(p.caption(kTxdLine), QString(), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(p.caption(kRxdLine), QString(), 3000);
    }

    void statusQueriesAreDecoded()
    {
        Panel p;
        p.openDataPanel();
        p.click(kStatusQuery);
        QTRY_COMPARE(p.caption(kStatusLine), QStringLiteral(" Power ON"));
        QCOMPARE(p.caption(kRxdLine), QStringLiteral(" 0 0 CR "));
        QTRY_COMPARE_WITH_TIMEOUT(p.caption(kStatusLine), QString(), 3000);

        p.click(kPowerOff);
        QTest::qWait(600);
        p.click(kStatusQuery);
        QTRY_COMPARE(p.caption(kStatusLine), QStringLiteral(" Stand by"));
        QTest::qWait(600);
        p.click(kLampTimeQuery);
        QTRY_COMPARE(p.caption(kStatusLine), QStringLiteral(" 1 2 3 4 Hour Use"));
        QTest::qWait(600);
        p.click(kSettingQuery);
        QTRY_COMPARE(p.caption(kStatusLine), QStringLiteral(" Normally"));
    }

    void aReplyInTwoWritesIsDecodedWhenWhole()
    {
        PtyProjector::Options split;
        split.splitAt = 1;
        split.splitGap = std::chrono::milliseconds(100);
        Panel p(split);
        p.click(kStatusQuery);
        QTRY_COMPARE(p.caption(kRxdLine), QStringLiteral(" 0 "));
        QCOMPARE(p.caption(kStatusLine), QString());
        QTRY_COMPARE(p.caption(kRxdLine), QStringLiteral(" 0 0 CR "));
        QCOMPARE(p.caption(kStatusLine), QStringLiteral(" Power ON"));
    }

    void aSilentProjectorShowsTheXs()
    {
        PtyProjector::Options silent;
        silent.silent = true;
        Panel p(silent);
        p.click(kPowerOn);
        QTRY_COMPARE_WITH_TIMEOUT(p.caption(kRxdLine), QStringLiteral(" X X X X"), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(p.caption(kTxdLine), QString(), 2000);
    }

    void holdingVolumeRepeatsEveryQuarterSecond()
    {
        Panel p;
        QWidget* plus = p.control(kVolUp);
        QTest::mousePress(plus, Qt::RightButton);
        QTest::qWait(1100);
        QTest::mouseRelease(plus, Qt::RightButton);
        QTest::qWait(300);
        const int frames = p.framesOf("C09\r");
        QVERIFY2(frames >= 4 && frames <= 6, qPrintable(QString::number(frames)));
    }

    void afterAZoomReleaseArrowsRepeatFast()
    {
        Panel p;
        QTest::mouseClick(p.control(kZoomDown), Qt::LeftButton);
        QWidget* up = p.control(kUp);
        QTest::mousePress(up, Qt::LeftButton);
        QTest::qWait(300);
        QTest::mouseRelease(up, Qt::LeftButton);
        QTest::qWait(100);
        const int frames = p.framesOf("C3C\r");
        QVERIFY2(frames >= 20 && frames <= 70, qPrintable(QString::number(frames)));
    }

    void theSpeedOptionChangesTheLine()
    {
        Panel p;
        p.click(kComButton);
        p.click(kBaud9600);
        termios tio{};
        ::tcgetattr(p.projector.masterFd(), &tio);
        QCOMPARE(cfgetospeed(&tio), speed_t(B9600));
        QVERIFY(!p.control(kPortFrame)->isVisibleTo(p.form.get()));
        p.click(kComButton);
        p.click(kBaud19200);
        ::tcgetattr(p.projector.masterFd(), &tio);
        QCOMPARE(cfgetospeed(&tio), speed_t(B19200));
    }

    void theSimulatorProgramServesThePanel()
    {
        QProcess sim;
        sim.start(QStringLiteral(ORVIK_SIM_PATH), {});
        QVERIFY(sim.waitForStarted());
        QVERIFY(sim.waitForReadyRead(5000));
        const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
        QVERIFY(path.startsWith(QLatin1String("/dev/")));

        SystemClock clock;
        test::RecordingWarningBox warnings;
        const auto form = makeFormOnDevice(clock, warnings, path);
        form->Form_Load();
        QVERIFY(form->MSComm1().portOpen());
        QTest::mouseClick(form->control(QLatin1String(kModeQuery)), Qt::LeftButton);
        auto* status = dynamic_cast<Caption*>(form->control(QLatin1String(kStatusLine)));
        QTRY_COMPARE(status->caption(), QStringLiteral(" Computer"));
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
    }

    // --help, --version and mistakes are answered without a display.
    void theCommandLineIsAnsweredWithoutADisplay()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        const auto run = [&](const QStringList& args) {
            QProcess panel;
            panel.setProcessEnvironment(env);
            panel.start(QStringLiteral(ORVIK_CONTROL_PATH), args);
            panel.waitForFinished(10000);
            return std::tuple{panel.exitCode(), panel.readAllStandardOutput(), panel.readAllStandardError()};
        };
        const auto [helpCode, help, helpErrors] = run({QStringLiteral("--help")});
        QCOMPARE(helpCode, 0);
        for (const char* word : {"--com1", "--com2", "ORVIK_COM1", "ORVIK_COM2", "ttyUSB"})
            QVERIFY2(help.contains(word), word);
        const auto [versionCode, version, versionErrors] = run({QStringLiteral("--version")});
        QCOMPARE(versionCode, 0);
        QCOMPARE(version, QByteArray("orvik-control 1.30\n"));
        const auto [wrongCode, wrong, wrongErrors] = run({QStringLiteral("--bogus")});
        QCOMPARE(wrongCode, 2);
        QVERIFY(wrongErrors.contains("bogus"));
        const auto [bareCode, bare, bareErrors] = run({});
        QCOMPARE(bareCode, 1);
        QVERIFY(bareErrors.contains("xvfb-run"));
    }

    // Each signal ends the program with status 0 and frees the port: its lock
    // is gone and the next instance opens it.
    void signalsCloseThePortOnTheWayOut()
    {
        PtyProjector projector;
        const QString lock = lockFileOf(projector.devicePath());
        if (!QFileInfo(QFileInfo(lock).absolutePath()).isWritable())
            QSKIP("/run/lock cannot be written here");
        for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
            QProcess panel;
            panel.start(QStringLiteral(ORVIK_CONTROL_PATH), {QStringLiteral("-platform"), QStringLiteral("offscreen"),
                                                             QStringLiteral("--com1"), projector.devicePath()});
            QVERIFY(panel.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lock), 10000); // COM1 is open
            ::kill(pid_t(panel.processId()), sig);
            QVERIFY(panel.waitForFinished(10000));
            QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
            QCOMPARE(panel.exitCode(), 0);
            QVERIFY2(!QFile::exists(lock), qPrintable(lock));
        }
    }

    // A port held by the service is asked for without waiting: the window
    // goes on painting while a slow service lends it, and then it is open.
    void thePanelKeepsPaintingWhileTheServiceLendsSlowly()
    {
        PtyProjector projector;
        const QString lock = lockFileOf(projector.devicePath());
        if (!QFileInfo(QFileInfo(lock).absolutePath()).isWritable())
            QSKIP("/run/lock cannot be written here");
        // The stand-in service: it holds the port's lock, and lends it 3 s after it is asked.
        QProcess holder;
        holder.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        QVERIFY(holder.waitForStarted());
        QFile lockFile(lock);
        QVERIFY(lockFile.open(QIODevice::WriteOnly));
        lockFile.write(QByteArray::number(holder.processId()).rightJustified(10, ' ') + '\n');
        lockFile.close();
        QLocalServer service;
        QLocalServer::removeServer(qEnvironmentVariable("ORVIK_CONTROL_SOCKET"));
        QVERIFY(service.listen(qEnvironmentVariable("ORVIK_CONTROL_SOCKET")));
        QByteArray asked;
        bool lent = false;
        connect(&service, &QLocalServer::newConnection, this, [&] {
            QLocalSocket* client = service.nextPendingConnection();
            connect(client, &QLocalSocket::readyRead, this, [&, client] {
                const QByteArray line = client->readAll();
                asked += line;
                const QJsonObject request = QJsonDocument::fromJson(line).object();
                QTimer::singleShot(3000, client, [&, client, id = request.value(QStringLiteral("id"))] {
                    QFile::remove(lock);
                    lent = true;
                    client->write(QJsonDocument(QJsonObject{{QStringLiteral("v"), 1},
                                                            {QStringLiteral("id"), id},
                                                            {QStringLiteral("op"), QStringLiteral("lent")}})
                                      .toJson(QJsonDocument::Compact)
                                  + '\n');
                });
            });
        });

        SystemClock clock;
        test::RecordingWarningBox warnings;
        const QString path = projector.devicePath();
        Form1 form({clock, warnings, std::make_unique<BorrowingDevice>(std::make_unique<PortDevice>()),
                    [path](int) { return path; }, [](int) {}});
        int painted = 0;
        PaintCounter counter(painted);
        form.installEventFilter(&counter);
        QElapsedTimer loading;
        loading.start();
        form.Form_Load();
        form.show();
        QVERIFY2(loading.elapsed() < 500, qPrintable(QString::number(loading.elapsed())));
        QTimer repaint;
        connect(&repaint, &QTimer::timeout, &form, qOverload<>(&QWidget::update));
        repaint.start(50);
        QTRY_VERIFY(asked.contains("\"lend\""));
        QTest::qWait(2500); // the loan still on its way
        QVERIFY2(painted >= 25, qPrintable(QString::number(painted)));
        QVERIFY(warnings.shown.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(lent, 5000);
        QTest::qWait(200); // lent, and opened
        QTest::mouseClick(form.control(QStringLiteral("Command17")), Qt::LeftButton);
        QTRY_VERIFY2(projector.received().contains("C00\r"),
                     qPrintable(warnings.shown.join(u';') + QString::fromLatin1(projector.received())));
        holder.kill();
        holder.waitForFinished();
    }

    // A device server that serves one client and frees it slowly must not
    // see a second connection at start-up.
    void aDeviceServerIsConnectedOnceAtStartUp()
    {
        for (const char* scheme : {"rfc2217", "tcp"}) {
            QTcpServer server;
            QVERIFY(server.listen(QHostAddress::LocalHost));
            int accepted = 0;
            QList<QTcpSocket*> clients;
            connect(&server, &QTcpServer::newConnection, &server, [&] {
                while (QTcpSocket* client = server.nextPendingConnection()) {
                    ++accepted;
                    clients.append(client);
                }
            });
            QProcess panel;
            panel.start(QStringLiteral(ORVIK_CONTROL_PATH),
                        {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--com1"),
                         QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(server.serverPort())});
            QVERIFY(panel.waitForStarted());
            QTRY_COMPARE_WITH_TIMEOUT(accepted, 1, 10000);
            QTest::qWait(500);
            QCOMPARE(accepted, 1);
            QCOMPARE(clients.first()->state(), QAbstractSocket::ConnectedState); // the one kept
            panel.terminate();
            QVERIFY(panel.waitForFinished(10000));
        }
    }
};

QTEST_MAIN(TestEndToEnd)
#include "test_end_to_end.moc"
