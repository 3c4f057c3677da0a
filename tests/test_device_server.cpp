// The serial control through a real device server (ser2net) standing on a
// pseudo-terminal, over loopback: RFC 2217 and raw TCP.
#include "link/port_device.h"
#include "panel/mscomm.h"
#include "tests/support/loopback.h"
#include "tools/sim/pty_projector.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <termios.h>

using namespace orvik;
using sim::PtyProjector;
using test::freePort;

namespace {

// ser2net with a configuration of its own, serving one pty on one port.
class Ser2net {
public:
    Ser2net(const QString& device, const char* accepter)
        : port_(freePort())
    {
        const QString config = dir_.filePath(QStringLiteral("ser2net.yaml"));
        QFile file(config);
        file.open(QIODevice::WriteOnly);
        file.write(QStringLiteral("connection: &projector\n"
                                  "  accepter: %1,127.0.0.1,%2\n"
                                  "  connector: serialdev,%3,19200n81,local\n")
                       .arg(QLatin1String(accepter))
                       .arg(port_)
                       .arg(device)
                       .toUtf8());
        file.close();
        args_ = {QStringLiteral("-n"), QStringLiteral("-u"),
                 QStringLiteral("-P"), dir_.filePath(QStringLiteral("pid")),
                 QStringLiteral("-c"), config};
    }
    ~Ser2net() { stop(); }

    bool start()
    {
        process_.start(QStandardPaths::findExecutable(QStringLiteral("ser2net"), {"/usr/sbin", "/usr/bin"}), args_);
        if (!process_.waitForStarted())
            return false;
        if (!test::listensSoon(port_))
            return false;
        QTest::qWait(100);
        return true;
    }
    void stop()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            process_.waitForFinished(5000);
        }
    }
    QString address(const char* scheme) const
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(port_);
    }

private:
    QTemporaryDir dir_;
    quint16 port_;
    QStringList args_;
    QProcess process_;
};

struct Port {
    explicit Port(const QString& path)
        : comm(
            std::make_unique<PortDevice>(), [path](int) { return path; }, failure)
    {
        QObject::connect(&comm, &MSComm::OnComm, &comm, [this] {
            if (comm.commEvent() == MSComm::kReceiveEvent)
                received += comm.input();
        });
    }
    Failure failure;
    MSComm comm;
    QString received;
};

speed_t speedOf(const PtyProjector& far)
{
    termios tio{};
    ::tcgetattr(far.masterFd(), &tio);
    return cfgetospeed(&tio);
}

} // namespace

class TestDeviceServer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("ser2net"), {"/usr/sbin", "/usr/bin"}).isEmpty())
            QSKIP("ser2net is not installed (Debian package ser2net; tools/install-deps.sh test installs it)");
    }

    void rfc2217CarriesFramesAndSetsTheLine()
    {
        PtyProjector far(PtyProjector::Options{.silent = true});
        Ser2net server(far.devicePath(), "telnet(rfc2217),tcp");
        QVERIFY(server.start());
        Port port(server.address("rfc2217"));
        port.comm.setSettings(QStringLiteral("19200,N,8,1"));
        port.comm.setPortOpen(true);
        QVERIFY2(port.comm.portOpen(), qPrintable(port.failure.description));
        QTRY_COMPARE(speedOf(far), speed_t(B19200));

        QVERIFY(port.comm.setOutput(QStringLiteral("C00\r")));
        QTRY_COMPARE(far.received(), QByteArray("C00\r"));
        port.comm.setSettings(QStringLiteral("9600,N,8,1")); // at once
        QTRY_COMPARE(speedOf(far), speed_t(B9600));

        far.send(QByteArray("\xff"
                            "00\r",
                            4)); // 0xFF on the line is one character
        QTRY_COMPARE(port.received, QString(QChar(0xFF)) + QStringLiteral("00\r"));
        QVERIFY(port.comm.setOutput(QString(QChar(0xFF)) + QStringLiteral("\r")));
        QTRY_COMPARE(far.received(), QByteArray("C00\r\xff\r"));
    }

    void aServerThatComesBackTakesFramesAgain()
    {
        PtyProjector far(PtyProjector::Options{.silent = true});
        auto server = std::make_unique<Ser2net>(far.devicePath(), "telnet(rfc2217),tcp");
        QVERIFY(server->start());
        Port port(server->address("rfc2217"));
        port.comm.setPortOpen(true);
        QVERIFY(port.comm.portOpen());
        QVERIFY(port.comm.setOutput(QStringLiteral("C00\r")));
        QTRY_COMPARE(far.received(), QByteArray("C00\r"));

        server->stop();
        auto& device = static_cast<PortDevice&>(port.comm.device());
        QTRY_VERIFY(!device.write("C02\r")); // lost
        QVERIFY(port.comm.portOpen());
        QVERIFY(server->start());
        bool sent = false; // tried until the connection is back, once
        QTRY_VERIFY_WITH_TIMEOUT(sent || (sent = port.comm.setOutput(QStringLiteral("C01\r"))), 5000);
        // The frame after the restart arrives, once. (What ser2net does with
        // the line while it shuts down is its own business.)
        QTRY_VERIFY(far.received().endsWith("C01\r"));
        QCOMPARE(far.received().count("C01\r"), 1);
    }

    void rawTcpCarriesBytesAsTheyAre()
    {
        PtyProjector far(PtyProjector::Options{.silent = true});
        Ser2net server(far.devicePath(), "tcp");
        QVERIFY(server.start());
        Port port(server.address("tcp"));
        port.comm.setPortOpen(true);
        QVERIFY2(port.comm.portOpen(), qPrintable(port.failure.description));
        QVERIFY(port.comm.setOutput(QStringLiteral("C00\r")));
        QTRY_COMPARE(far.received(), QByteArray("C00\r"));
        far.send("80\r");
        QTRY_COMPARE(port.received, QStringLiteral("80\r"));
    }

    // orvik-send through the device server: the reply decoded, and a second
    // client of a port the server gives to one is told why it is refused.
    void orvikSendThroughRfc2217()
    {
        PtyProjector far;
        Ser2net server(far.devicePath(), "telnet(rfc2217),tcp");
        QVERIFY(server.start());
        const auto run = [&](QProcess& process) {
            process.start(QStringLiteral(ORVIK_SEND_PATH), {QStringLiteral("-p"), server.address("rfc2217"),
                                                            QStringLiteral("status"), QStringLiteral("l-time")});
            QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 20000);
        };
        QProcess alone;
        run(alone);
        QCOMPARE(alone.readAllStandardOutput(), QByteArray("status Power ON\nl-time 1234 hours\n"));
        QCOMPARE(alone.exitCode(), 0);

        Port panel(server.address("rfc2217"));
        panel.comm.setPortOpen(true);
        QVERIFY(panel.comm.portOpen());
        QProcess second;
        run(second);
        QCOMPARE(second.exitCode(), 3);
        QVERIFY2(second.readAllStandardError().contains("serves another client"), "no reason given");
    }

    void nobodyListeningGivesTheWarningAtOnce()
    {
        const QString address = QStringLiteral("tcp://127.0.0.1:%1").arg(freePort());
        Port port(address);
        QElapsedTimer took;
        took.start();
        port.comm.setPortOpen(true);
        QVERIFY(took.elapsed() < 2000);
        QVERIFY(!port.comm.portOpen());
        QCOMPARE(port.failure.description, QStringLiteral("COM1 (%1): Connection refused").arg(address));
    }
};

QTEST_GUILESS_MAIN(TestDeviceServer)
#include "test_device_server.moc"
