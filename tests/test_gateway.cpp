// orvik-gateway as a site runs it: the real program on simulated
// projectors, PJLink clients on 127.0.0.2, 127.0.0.3 and 127.0.0.1 (the npm
// pjlink client, which nobody here wrote, and raw sockets), and the MQTT
// face on a mosquitto of the test's own. Tolerances are generous.
#include "pjlink/answers.h"
#include "tests/support/broker.h"
#include "tools/sim/pty_projector.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

using namespace orvik;
using sim::PtyProjector;
using namespace std::chrono_literals;
using test::output;
using test::tool;

namespace {

const QString kClient = QStringLiteral(ORVIK_PJLINK_CLIENT);

// The npm client's steps against one projector, one line of output each.
QByteArray npmClient(const QString& host, quint16 port, const QString& password, const QStringList& steps)
{
    const auto run =
        sim::runWhileServing(tool("node"), QStringList{kClient, host, QString::number(port), password} + steps, 30s);
    return run.out + run.err;
}

// One PJLink line on a connection of its own, the event loop running
// meanwhile (the projectors answer on it): the answer, without its CR.
QByteArray ask(const QString& host, quint16 port, const QByteArray& line)
{
    QTcpSocket socket;
    QByteArray in;
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [&] { in += socket.readAll(); });
    const auto answered = [&] {
        QTest::qWait(5);
        return in.endsWith('\r') || socket.state() == QAbstractSocket::UnconnectedState;
    };
    socket.connectToHost(host, port);
    if (!test::until(answered, 5s) || !in.endsWith('\r')) // the greeting
        return {};
    in.clear();
    socket.write(line + '\r');
    test::until(answered, 10s);
    return in.trimmed();
}

// orvik-gateway with default polls on the given projectors, one PJLink
// address each from 127.0.1.1 on: true once all listen.
bool startGateway(QProcess& gateway, const QTemporaryDir& dir, quint16 port,
                  const std::vector<const PtyProjector*>& projectors, const QStringList& more = {})
{
    QByteArray ports;
    for (std::size_t i = 0; i < projectors.size(); ++i)
        ports += QStringLiteral("p%1 %2 pjlink=127.0.1.%1:%3\n")
                     .arg(i + 1)
                     .arg(projectors[i]->devicePath())
                     .arg(port)
                     .toUtf8();
    gateway.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    gateway.start(QStringLiteral(ORVIK_GATEWAY_PATH),
                  QStringList{QStringLiteral("--ports-file"), test::writeFile(dir, QStringLiteral("ports-own"), ports),
                              QStringLiteral("--control-socket"), dir.filePath(QStringLiteral("own.sock"))}
                      + more);
    return gateway.waitForStarted() && test::until([&] {
               return ask(QStringLiteral("127.0.1.%1").arg(projectors.size()), port, "%1POWR ?") == "%1POWR=1";
           });
}

} // namespace

class TestGateway : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<test::Broker> broker;
    std::unique_ptr<PtyProjector> hall1, hall2, hall3;
    quint16 shared = 0, own = 0; // hall-1 and hall-2 on one port of two addresses; hall-3 on its own
    QProcess gateway;

    QString write(const QString& name, const QByteArray& text) { return test::writeFile(dir, name, text); }
    QString portsFile()
    {
        return write("ports", QStringLiteral("hall-1 %1 pjlink=127.0.0.2:%4\nhall-2 %2 pjlink=127.0.0.3:%4\n"
                                             "hall-3 %3 pjlink=127.0.0.1:%5\n")
                                  .arg(hall1->devicePath(), hall2->devicePath(), hall3->devicePath())
                                  .arg(shared)
                                  .arg(own)
                                  .toUtf8());
    }
    static bool listens(const QString& host, quint16 port)
    {
        return test::until(
            [&] {
                QTcpSocket probe;
                probe.connectToHost(host, port);
                return probe.waitForConnected(100);
            },
            10s);
    }

private slots:
    void initTestCase()
    {
        if (tool("node").isEmpty() || !QFile::exists(QFileInfo(kClient).dir().filePath(QStringLiteral("node_modules"))))
            QSKIP("the npm pjlink client is not installed: tools/test.sh installs it (npm ci in tests/pjlink-client)");
        if (tool("mosquitto").isEmpty())
            QSKIP("mosquitto is not installed (tools/install-deps.sh test installs it)");
        broker = std::make_unique<test::Broker>();
        QVERIFY(broker->start());
        hall1 = std::make_unique<PtyProjector>();
        hall2 = std::make_unique<PtyProjector>(PtyProjector::Options{.hours = 77});
        hall3 = std::make_unique<PtyProjector>();
        shared = test::freePort();
        own = test::freePort();
        gateway.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        gateway.start(QStringLiteral(ORVIK_GATEWAY_PATH),
                      {QStringLiteral("--ports-file"), portsFile(), QStringLiteral("--broker"),
                       QStringLiteral("mqtt://127.0.0.1:") + broker->port(), QStringLiteral("--poll"),
                       QStringLiteral("1")});
        QVERIFY(gateway.waitForStarted());
        for (const auto& [host, port] : {std::pair{"127.0.0.2", shared}, {"127.0.0.3", shared}, {"127.0.0.1", own}})
            QVERIFY2(listens(QLatin1String(host), port), host);
    }

    void cleanupTestCase()
    {
        if (!broker) // skipped: nothing was started
            return;
        gateway.terminate();
        QVERIFY(gateway.waitForFinished(10000));
        QCOMPARE(gateway.exitCode(), 0);
    }

    void theNpmClientReadsSwitchesAndReadsBack()
    {
        hall1->clearReceived();
        QTRY_COMPARE_WITH_TIMEOUT(npmClient(QStringLiteral("127.0.0.2"), shared, {}, {QStringLiteral("power")}),
                                  QByteArray("power 1\n"), 10000); // once the first poll is in
        QCOMPARE(npmClient(QStringLiteral("127.0.0.2"), shared, {},
                           {QStringLiteral("input=21"), QStringLiteral("input"), QStringLiteral("lamps"),
                            QStringLiteral("errors"), QStringLiteral("name"), QStringLiteral("class"),
                            QStringLiteral("input=31")}),
                 QByteArray("set-input ok\ninput 21\nlamps [{\"hours\":1234,\"on\":true}]\nerrors null\nname "
                            "hall-1\nclass 1\nset-input error: Out of parameter\n"));
        QVERIFY(hall1->received().contains("C07\r"));
        // Each address is its own projector.
        QCOMPARE(npmClient(QStringLiteral("127.0.0.3"), shared, {}, {QStringLiteral("name"), QStringLiteral("lamps")}),
                 QByteArray("name hall-2\nlamps [{\"hours\":77,\"on\":true}]\n"));
        QCOMPARE(npmClient(QStringLiteral("127.0.0.1"), own, {}, {QStringLiteral("name")}),
                 QByteArray("name hall-3\n"));
    }

    void aPjlinkPowerOffShowsOnTheBroker()
    {
        QProcess watch; // subscribed before the command
        watch.start(tool("mosquitto_sub"),
                    {QStringLiteral("-p"), broker->port(), QStringLiteral("-t"), QStringLiteral("orvik/hall-3/power"),
                     QStringLiteral("-W"), QStringLiteral("20")});
        QVERIFY(watch.waitForStarted());
        QTest::qWait(500);
        QCOMPARE(npmClient(QStringLiteral("127.0.0.1"), own, {}, {QStringLiteral("power=0"), QStringLiteral("power")}),
                 QByteArray("set-power ok\npower 0\n"));
        QByteArray seen;
        QTRY_VERIFY_WITH_TIMEOUT((seen += watch.readAllStandardOutput()).contains("standby"), 10000);
        QCOMPARE(seen, QByteArray("on\nstandby\n"));
        watch.kill();
        watch.waitForFinished();
    }

    void fiveClientsPollingOftenPutNothingOnTheLine()
    {
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < 5; ++i) {
            clients.push_back(std::make_unique<QTcpSocket>());
            clients.back()->connectToHost(QStringLiteral("127.0.0.2"), shared);
            QVERIFY(clients.back()->waitForConnected(2000));
            QTRY_VERIFY(clients.back()->canReadLine() || clients.back()->bytesAvailable() >= 9);
            clients.back()->readAll(); // the greeting
        }
        hall1->clearReceived();
        int answered = 0;
        for (int round = 0; round < 15; ++round) { // five a second each, for three seconds
            for (const auto& client : clients)
                client->write("%1POWR ?\r");
            QTRY_VERIFY_WITH_TIMEOUT(
                std::all_of(clients.begin(), clients.end(), [](const auto& c) { return c->bytesAvailable() >= 9; }),
                2000);
            for (const auto& client : clients)
                answered += client->readAll() == "%1POWR=1\r" ? 1 : 0;
            QTest::qWait(200);
        }
        QCOMPARE(answered, 75);
        // Only the gateway's own polls reached the line.
        for (const QByteArray& frame : hall1->received().split('\r'))
            QVERIFY2(frame.isEmpty() || frame == "CR0" || frame == "CR1" || frame == "CR4" || frame == "CR3",
                     frame.constData());
    }

    void aPasswordIsAsked()
    {
        const QString password = write("pjlink-password", "JBMIAProjectorLink\n");
        PtyProjector projector;
        const quint16 port = test::freePort();
        const QString ports =
            write("ports-guarded",
                  QStringLiteral("room %1 pjlink=127.0.0.2:%2\n").arg(projector.devicePath()).arg(port).toUtf8());
        QProcess guarded;
        guarded.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        guarded.start(QStringLiteral(ORVIK_GATEWAY_PATH),
                      {QStringLiteral("--ports-file"), ports, QStringLiteral("--pjlink-password-file"), password});
        QVERIFY(listens(QStringLiteral("127.0.0.2"), port));
        QTRY_COMPARE_WITH_TIMEOUT(
            npmClient(QStringLiteral("127.0.0.2"), port, QStringLiteral("JBMIAProjectorLink"),
                      {QStringLiteral("power"), QStringLiteral("input=21"), QStringLiteral("input")}),
            QByteArray("power 1\nset-input ok\ninput 21\n"), 10000);
        QCOMPARE(npmClient(QStringLiteral("127.0.0.2"), port, QStringLiteral("wrong"), {QStringLiteral("power")}),
                 QByteArray("power error: Authorization failed\n"));
        guarded.terminate();
        QVERIFY(guarded.waitForFinished(10000));
        QVERIFY(guarded.readAllStandardError().contains("room: a client at 127.0.0.1 was refused"));
    }

    void badAddressesAreUsageErrorsNamingTheLine_data()
    {
        QTest::addColumn<QByteArray>("ports");
        QTest::addColumn<QStringList>("more");
        QTest::addColumn<QByteArray>("said");
        QTest::newRow("bad field") << QByteArray("a /dev/null pjlink=hall:1\n") << QStringList()
                                   << QByteArray(":1: pjlink=hall:1: 'hall' is no IPv4 address");
        QTest::newRow("twice") << QByteArray("a /dev/null pjlink=127.0.0.2\nb /dev/zero pjlink=127.0.0.2:4352\n")
                               << QStringList()
                               << QByteArray(":2: b on 127.0.0.2 port 4352 and a on 127.0.0.2 port 4352");
        QTest::newRow("no face") << QByteArray("a /dev/null\n") << QStringList()
                                 << QByteArray(
                                        "nothing to serve: give --broker URL, --prometheus FILE, or pjlink= addresses");
        QTest::newRow("broker option alone") << QByteArray("a /dev/null pjlink=127.0.0.2\n")
                                             << QStringList{QStringLiteral("--topic-prefix"), QStringLiteral("x")}
                                             << QByteArray("--topic-prefix goes with --broker URL");
    }
    void badAddressesAreUsageErrorsNamingTheLine()
    {
        QFETCH(QByteArray, ports);
        QFETCH(QStringList, more);
        QFETCH(QByteArray, said);
        const auto run =
            sim::runWhileServing(QStringLiteral(ORVIK_GATEWAY_PATH),
                                 QStringList{QStringLiteral("--ports-file"), write("bad", ports)} + more, 10s);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(said), run.err.constData());
    }

    // A controller that switches a projector on sees it warming, and then
    // on within about a second of the projector, with polls at the default.
    void aProjectorWarmingUpIsFollowed()
    {
        PtyProjector warming(PtyProjector::Options{.warmUp = 4000ms});
        QProcess own;
        const quint16 port = test::freePort();
        QVERIFY(startGateway(own, dir, port, {&warming}));
        QCOMPARE(ask(QStringLiteral("127.0.1.1"), port, "%1POWR 0"), QByteArray("%1POWR=OK"));
        QCOMPARE(ask(QStringLiteral("127.0.1.1"), port, "%1POWR ?"), QByteArray("%1POWR=0"));
        QElapsedTimer since;
        since.start();
        QCOMPARE(ask(QStringLiteral("127.0.1.1"), port, "%1POWR 1"), QByteArray("%1POWR=OK"));
        QByteArrayList seen;
        while (since.elapsed() < 8000 && !seen.contains("%1POWR=1")) {
            const QByteArray answer = ask(QStringLiteral("127.0.1.1"), port, "%1POWR ?");
            if (seen.isEmpty() || seen.last() != answer)
                seen << answer;
            QTest::qWait(100);
        }
        QCOMPARE(seen, QByteArrayList({"%1POWR=3", "%1POWR=1"}));
        QVERIFY2(since.elapsed() < 6000, qPrintable(QString::number(since.elapsed())));
        own.terminate();
        QVERIFY(own.waitForFinished(10000));
    }

    // A projector slower than the default reply time-out is served when the
    // service is told to wait longer.
    void aSlowProjectorIsServedWithALongerTimeout()
    {
        PtyProjector slow(PtyProjector::Options{.delay = 800ms});
        QProcess own;
        const quint16 port = test::freePort();
        QVERIFY(startGateway(own, dir, port, {&slow}, {QStringLiteral("--timeout"), QStringLiteral("1500")}));
        QCOMPARE(ask(QStringLiteral("127.0.1.1"), port, "%1INPT 21"), QByteArray("%1INPT=OK"));
        QCOMPARE(ask(QStringLiteral("127.0.1.1"), port, "%1INPT ?"), QByteArray("%1INPT=21"));
        own.terminate();
        QVERIFY(own.waitForFinished(10000));
    }

    void anAddressInUseEndsTheStart()
    {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost));
        const auto run = sim::runWhileServing(
            QStringLiteral(ORVIK_GATEWAY_PATH),
            {QStringLiteral("--ports-file"),
             write("taken", QStringLiteral("a /dev/null pjlink=127.0.0.1:%1\n").arg(taken.serverPort()).toUtf8())},
            10s);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("a: cannot listen for PJLink on 127.0.0.1:"), run.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestGateway)
#include "test_gateway.moc"
