// One program owns each port: the real orvik-gateway holds simulated
// projectors, and orvik-send and the panel reach them through its socket.
// What orvik-send prints through the service is what it prints on a free
// port; the panel borrows a port and the service takes it back however the
// panel ends. Tolerances are generous.
#include "tests/support/broker.h"
#include "tools/sim/pty_projector.h"

#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <memory>

using namespace orvik;
using sim::PtyProjector;
using namespace std::chrono_literals;
using test::tool;

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Times differ from run to run; lines of several ports come in any order.
QByteArray comparable(QByteArray text)
{
    static const QRegularExpression ms(QStringLiteral("\"ms\":[0-9]+"));
    static const QRegularExpression seconds(QStringLiteral("(orvik_reply_seconds\\{[^}]*\\}) [0-9.]+"));
    QString normal = QString::fromUtf8(text);
    normal.replace(ms, QStringLiteral("\"ms\":0")).replace(seconds, QStringLiteral("\\1 0"));
    QStringList lines = normal.split(u'\n');
    lines.sort();
    return lines.join(u'\n').toUtf8();
}

} // namespace

class TestOneOwner : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<test::Broker> broker;
    std::unique_ptr<PtyProjector> hall1, hall2, silent;
    QString socket;
    QProcess gateway;

    QString write(const QString& name, const QByteArray& text) { return test::writeFile(dir, name, text); }
    QString portsFile()
    {
        return write(QStringLiteral("ports"), QStringLiteral("hall-1 %1\nhall-2 %2\nhall-3 %3\n")
                                                  .arg(hall1->devicePath(), hall2->devicePath(), silent->devicePath())
                                                  .toUtf8());
    }
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ORVIK_CONTROL_SOCKET"), socket);
        return env;
    }
    Run send(const QStringList& args, const QString& program = QStringLiteral(ORVIK_SEND_PATH),
             const QStringList& before = {})
    {
        const auto run = sim::runWhileServing(program, before + args, 30s, {}, environment());
        return {run.ended ? run.exitCode : -1, run.out, run.err};
    }
    void startGateway(const QStringList& more = {})
    {
        gateway.setProcessChannelMode(QProcess::ForwardedChannels);
        gateway.setProcessEnvironment(environment());
        gateway.start(QStringLiteral(ORVIK_GATEWAY_PATH),
                      QStringList{QStringLiteral("--ports-file"), portsFile(), QStringLiteral("--poll"),
                                  QStringLiteral("1"), QStringLiteral("--prometheus"), dir.filePath("service.prom")}
                          + more);
        QVERIFY(gateway.waitForStarted());
        QVERIFY(test::until([&] { return QFile::exists(socket); }, 10s));
    }
    void stopGateway()
    {
        if (gateway.state() == QProcess::NotRunning)
            return;
        gateway.terminate();
        QVERIFY(gateway.waitForFinished(10000));
    }
    // The retained value of a topic, or nothing within two seconds.
    QByteArray retained(const QString& topic)
    {
        return test::output(tool("mosquitto_sub"),
                            {QStringLiteral("-p"), broker->port(), QStringLiteral("-t"), topic, QStringLiteral("-C"),
                             QStringLiteral("1"), QStringLiteral("-W"), QStringLiteral("2")})
            .trimmed();
    }

private slots:
    void init()
    {
        hall1 = std::make_unique<PtyProjector>();
        hall2 = std::make_unique<PtyProjector>(PtyProjector::Options{.hours = 77});
        silent = std::make_unique<PtyProjector>(PtyProjector::Options{.silent = true});
        socket = dir.filePath(QStringLiteral("gateway.sock"));
    }

    void cleanup()
    {
        stopGateway();
        QFile::remove(socket);
    }

    void throughTheServiceAsOnAFreePort()
    {
        const QString ports = portsFile();
        const QString prom = dir.filePath(QStringLiteral("send.prom"));
        const QStringList all{QStringLiteral("--ports-file"), ports};
        const QList<QStringList> runs{
            all
                + QStringList{QStringLiteral("power-on"), QStringLiteral("status"), QStringLiteral("mode"),
                              QStringLiteral("l-time"), QStringLiteral("setting"), QStringLiteral("vol-up:2"),
                              QStringLiteral("raw:C1E")},
            all
                + QStringList{QStringLiteral("--json"), QStringLiteral("status"), QStringLiteral("l-time"),
                              QStringLiteral("menu-on")},
            all
                + QStringList{QStringLiteral("--prometheus"), prom, QStringLiteral("status"), QStringLiteral("mode"),
                              QStringLiteral("l-time")},
            {QStringLiteral("--port"), QStringLiteral("one=") + hall2->devicePath(), QStringLiteral("status")},
            {QStringLiteral("--port"), hall1->devicePath(), QStringLiteral("vol-up:x")},
        };
        QList<Run> free;
        QList<QByteArray> freeMetrics;
        for (const QStringList& args : runs) {
            free.append(send(args));
            freeMetrics.append(args.contains(prom) ? test::output(tool("cat"), {prom}) : QByteArray());
            QFile::remove(prom);
        }
        QCOMPARE(free[0].exitCode, 1); // hall-3 does not answer
        QCOMPARE(free[4].exitCode, 2);

        startGateway();
        hall1->clearReceived();
        for (qsizetype i = 0; i < runs.size(); ++i) {
            const Run through = send(runs[i]);
            QVERIFY2(through.exitCode == free[i].exitCode, through.err + "\n--- on a free port:\n" + free[i].err);
            QCOMPARE(comparable(through.out), comparable(free[i].out));
            QCOMPARE(comparable(through.err), comparable(free[i].err));
            if (!freeMetrics[i].isEmpty())
                QCOMPARE(comparable(test::output(tool("cat"), {prom})), comparable(freeMetrics[i]));
        }
        // It went through the service: the port was the service's all along.
        QVERIFY(hall1->received().contains("C1E\r"));
        const Run own = send({QStringLiteral("--port"), hall1->devicePath(), QStringLiteral("status")});
        QCOMPARE(own.out, QByteArray("Power ON\n"));

        // The service's own metrics file, after a round of polls.
        QVERIFY(test::until(
            [&] {
                const QByteArray metrics = test::output(tool("cat"), {dir.filePath(QStringLiteral("service.prom"))});
                return metrics.contains("orvik_up{projector=\"hall-1\"} 1\n")
                       && metrics.contains("orvik_up{projector=\"hall-2\"} 1\n")
                       && metrics.contains("orvik_up{projector=\"hall-3\"} 0\n")
                       && metrics.contains("orvik_lamp_hours{projector=\"hall-2\"} 77\n");
            },
            10s));
    }

    void aPowerOffThroughTheServiceShowsOnTheBroker()
    {
        if (tool("mosquitto").isEmpty())
            QSKIP("mosquitto is not installed (tools/install-deps.sh test installs it)");
        broker = std::make_unique<test::Broker>();
        QVERIFY(broker->start());
        startGateway({QStringLiteral("--broker"), QStringLiteral("mqtt://127.0.0.1:") + broker->port()});
        QVERIFY(test::until([&] { return retained(QStringLiteral("orvik/hall-1/power")) == "on"; }));
        const Run off =
            send({QStringLiteral("--port"), QStringLiteral("a=") + hall1->devicePath(), QStringLiteral("--port"),
                  QStringLiteral("b=") + hall2->devicePath(), QStringLiteral("power-off")});
        QCOMPARE(off.exitCode, 0);
        QCOMPARE(comparable(off.out), comparable("a power-off ok\nb power-off ok\n"));
        // Asked again at once: the broker knows before the next poll.
        QCOMPARE(retained(QStringLiteral("orvik/hall-1/power")), QByteArray("standby"));
        QCOMPARE(retained(QStringLiteral("orvik/hall-2/power")), QByteArray("standby"));
    }

    void thePanelBorrowsAPortAndTheServiceTakesItBackAfterAKill()
    {
        if (tool("mosquitto").isEmpty())
            QSKIP("mosquitto is not installed (tools/install-deps.sh test installs it)");
        broker = std::make_unique<test::Broker>();
        QVERIFY(broker->start());
        startGateway({QStringLiteral("--broker"), QStringLiteral("mqtt://127.0.0.1:") + broker->port()});
        QVERIFY(test::until([&] { return retained(QStringLiteral("orvik/hall-1/availability")) == "online"; }));

        QProcess panel;
        QProcessEnvironment env = environment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("ORVIK_COM1"), hall1->devicePath());
        panel.setProcessEnvironment(env);
        panel.setProcessChannelMode(QProcess::ForwardedChannels);
        panel.start(QStringLiteral(ORVIK_CONTROL_PATH), {});
        QVERIFY(panel.waitForStarted());
        const QByteArray lent = QStringLiteral("lent to orvik-control (process %1)").arg(panel.processId()).toUtf8();
        QVERIFY(test::until([&] { return retained(QStringLiteral("orvik/hall-1/availability_reason")) == lent; }));
        QCOMPARE(retained(QStringLiteral("orvik/hall-1/availability")), QByteArray("offline"));
        QCOMPARE(retained(QStringLiteral("orvik/hall-2/availability")), QByteArray("online"));
        // The panel has the port: no one else writes to it.
        const Run refused =
            send({QStringLiteral("--port"), QStringLiteral("hall-1=") + hall1->devicePath(), QStringLiteral("status")});
        QCOMPARE(refused.exitCode, 3);
        QCOMPARE(refused.err, "orvik-send: hall-1 (" + hall1->devicePath().toUtf8() + "): " + lent + "\n");
        QCOMPARE(panel.state(), QProcess::Running); // no warning box waits

        ::kill(pid_t(panel.processId()), SIGKILL);
        QVERIFY(panel.waitForFinished(5000));
        QElapsedTimer back;
        back.start();
        QVERIFY(test::until([&] { return retained(QStringLiteral("orvik/hall-1/availability")) == "online"; }, 5s));
        QVERIFY2(back.elapsed() < 3000, qPrintable(QString::number(back.elapsed())));
        QCOMPARE(retained(QStringLiteral("orvik/hall-1/availability_reason")), QByteArray());
        QCOMPARE(send({QStringLiteral("--port"), hall1->devicePath(), QStringLiteral("status")}).out,
                 QByteArray("Power ON\n"));
    }

    void aUserOutsideTheGroupIsRefused()
    {
        if (::geteuid() != 0 || tool("setpriv").isEmpty())
            QSKIP("needs root and setpriv to run as another user");
        const QStringList asNobody{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                   QStringLiteral("--clear-groups"), QStringLiteral(ORVIK_SEND_PATH)};
        if (send({QStringLiteral("--version")}, tool("setpriv"), asNobody).exitCode != 0)
            QSKIP("nobody cannot run the build's orvik-send here");
        // Only the socket's own mode keeps nobody out.
        QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther | QFile::ReadOther);
        startGateway();
        const Run run =
            send({QStringLiteral("--port"), hall1->devicePath(), QStringLiteral("status")}, tool("setpriv"), asNobody);
        QCOMPARE(run.exitCode, 3);
        QVERIFY2(run.err.contains("lets in root and the group dialout only: join it (adduser"), run.err.constData());
    }

    void theServiceGoingAwayEndsARun()
    {
        startGateway();
        QProcess run;
        run.setProcessEnvironment(environment());
        run.start(QStringLiteral(ORVIK_SEND_PATH),
                  {QStringLiteral("--port"), hall1->devicePath(), QStringLiteral("--until"),
                   QStringLiteral("cooling_down"), QStringLiteral("--within"), QStringLiteral("60")});
        QVERIFY(run.waitForStarted());
        QTest::qWait(1500); // asking once a second, through the service
        gateway.kill();
        QVERIFY(gateway.waitForFinished(5000));
        QVERIFY(run.waitForFinished(10000)); // no hang
        QCOMPARE(run.exitCode(), 3);
        const QByteArray err = run.readAllStandardError();
        QVERIFY2(err.contains("orvik-gateway (process") && err.contains("went away"), err.constData());
    }
};

QTEST_GUILESS_MAIN(TestOneOwner)
#include "test_one_owner.moc"
