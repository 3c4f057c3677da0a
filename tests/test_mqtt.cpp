// orvik-mqtt as a site runs it: the real program, a real mosquitto on
// 127.0.0.1 (its own configuration and port) and simulated projectors.
// Read and written with mosquitto_sub and mosquitto_pub. Tolerances are generous.
#include "tests/support/loopback.h"
#include "tools/sim/pty_projector.h"
#include "tools/sim/run_program.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using namespace orvik;
using sim::PtyProjector;
using namespace std::chrono_literals;

namespace {

QString tool(const char* name)
{
    return QStandardPaths::findExecutable(QLatin1String(name),
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
}

// Runs a tool to its end while this event loop serves the projectors.
QByteArray output(const QString& program, const QStringList& args, const QByteArray& input = {})
{
    return sim::runWhileServing(program, args, 20s, input).out;
}

// Asks again and again (each asking runs the event loop) until it holds or
// `within` has passed: a QTRY loop counts its turns, not the time they take.
bool until(const std::function<bool()>& holds, std::chrono::milliseconds within = 15s)
{
    QElapsedTimer waited;
    waited.start();
    while (!holds())
        if (waited.elapsed() > within.count())
            return false;
    return true;
}

class Broker {
public:
    Broker()
        : port_(test::freePort())
    {
        QFile config(dir_.filePath(QStringLiteral("mosquitto.conf")));
        config.open(QIODevice::WriteOnly);
        config.write(
            QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n").arg(port_).toUtf8());
    }
    ~Broker() { stop(); }
    bool start()
    {
        process_.start(tool("mosquitto"), {QStringLiteral("-c"), dir_.filePath(QStringLiteral("mosquitto.conf"))});
        return test::listensSoon(port_);
    }
    void stop()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            process_.waitForFinished(5000);
        }
    }
    QString port() const { return QString::number(port_); }

private:
    QTemporaryDir dir_;
    quint16 port_ = 0;
    QProcess process_;
};

} // namespace

class TestMqtt : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<Broker> broker;
    std::unique_ptr<PtyProjector> hall1, hall2, hall3;
    QProcess service;
    QProcess simulator; // hall-4, a program of its own

    QString link(const char* name) const { return dir.filePath(QLatin1String(name)); }
    // Messages on the topics within `seconds`, "topic payload" a line.
    QStringList messages(const QStringList& topics, int seconds, int count = 0)
    {
        QStringList args{QStringLiteral("-p"), broker->port(), QStringLiteral("-v"), QStringLiteral("-W"),
                         QString::number(seconds)};
        if (count > 0)
            args << QStringLiteral("-C") << QString::number(count);
        for (const QString& topic : topics)
            args << QStringLiteral("-t") << topic;
        return QString::fromUtf8(output(tool("mosquitto_sub"), args)).split(u'\n', Qt::SkipEmptyParts);
    }
    void publish(const QString& topic, const QByteArray& payload)
    {
        output(tool("mosquitto_pub"),
               {QStringLiteral("-p"), broker->port(), QStringLiteral("-t"), topic, QStringLiteral("-s")}, payload);
    }

private slots:
    void initTestCase()
    {
        if (tool("mosquitto").isEmpty() || tool("mosquitto_sub").isEmpty())
            QSKIP("mosquitto is not installed (Debian packages mosquitto and mosquitto-clients; tools/install-deps.sh "
                  "test installs them)");
        broker = std::make_unique<Broker>();
        QVERIFY(broker->start());
        hall1 = std::make_unique<PtyProjector>();
        hall2 = std::make_unique<PtyProjector>(PtyProjector::Options{.hours = 77});
        hall3 = std::make_unique<PtyProjector>(PtyProjector::Options{.coolDown = 1500ms});
        QVERIFY(QFile::link(hall1->devicePath(), link("hall-1")));
        simulator.start(QStringLiteral(ORVIK_SIM_PATH), {QStringLiteral("--link"), link("hall-4")});
        QVERIFY(simulator.waitForReadyRead(10000));
        QFile ports(dir.filePath(QStringLiteral("ports")));
        QVERIFY(ports.open(QIODevice::WriteOnly));
        ports.write(QStringLiteral("hall-1 %1\nhall-2 %2\nhall-3 %3\nhall-4 %4\n")
                        .arg(link("hall-1"), hall2->devicePath(), hall3->devicePath(), link("hall-4"))
                        .toUtf8());
        ports.close();
        service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        service.start(QStringLiteral(ORVIK_MQTT_PATH),
                      {QStringLiteral("--ports-file"), ports.fileName(), QStringLiteral("--broker"),
                       QStringLiteral("mqtt://127.0.0.1:") + broker->port(), QStringLiteral("--poll"),
                       QStringLiteral("1")});
        QVERIFY(service.waitForStarted());
    }

    void cleanupTestCase()
    {
        if (service.state() == QProcess::NotRunning)
            return;
        service.terminate();
        QTRY_VERIFY_WITH_TIMEOUT(service.state() == QProcess::NotRunning, 10000);
        // It said offline on its way out.
        const QStringList last = messages({QStringLiteral("orvik/+/availability")}, 1);
        QCOMPARE(last.filter(QStringLiteral(" offline")).size(), 5);
        simulator.terminate();
        simulator.waitForFinished(5000);
    }

    void everyProjectorsStateIsRetained()
    {
        QStringList retained;
        QVERIFY(until([&] { return (retained = messages({QStringLiteral("orvik/#")}, 1)).size() >= 21; }));
        for (const char* line : {"orvik/bridge/availability online", "orvik/hall-1/availability online",
                                 "orvik/hall-1/power on", "orvik/hall-1/input computer", "orvik/hall-1/setting normal",
                                 "orvik/hall-1/lamp_hours 1234", "orvik/hall-2/lamp_hours 77", "orvik/hall-3/power on"})
            QVERIFY2(retained.contains(QLatin1String(line)), line);
    }

    void aCommandReachesTheLineAsItsFrame()
    {
        hall2->clearReceived();
        publish(QStringLiteral("orvik/hall-2/command"), "freeze-on");
        QTRY_VERIFY_WITH_TIMEOUT(hall2->received().contains("C43\r"), 5000);
    }

    void powerSetOffCoolsDownToStandby()
    {
        QProcess watch; // subscribed before the command
        watch.start(tool("mosquitto_sub"),
                    {QStringLiteral("-p"), broker->port(), QStringLiteral("-t"), QStringLiteral("orvik/hall-3/power"),
                     QStringLiteral("-W"), QStringLiteral("8")});
        QTest::qWait(300);
        publish(QStringLiteral("orvik/hall-3/power/set"), "OFF");
        QByteArray seen;
        QTRY_VERIFY_WITH_TIMEOUT((seen += watch.readAllStandardOutput()).contains("standby"), 8000);
        QCOMPARE(seen, QByteArray("on\ncooling_down\nstandby\n"));
        watch.kill();
        watch.waitForFinished();
    }

    void aBadPayloadIsAnsweredAndNothingSent()
    {
        const auto operations = [](const QByteArray& received) {
            QByteArray ops; // everything but the polls
            for (const QByteArray& frame : received.split('\r'))
                if (!frame.startsWith("CR") && !frame.isEmpty())
                    ops += frame;
            return ops;
        };
        hall1->clearReceived();
        QProcess results;
        results.start(tool("mosquitto_sub"), {QStringLiteral("-p"), broker->port(), QStringLiteral("-t"),
                                              QStringLiteral("orvik/hall-1/result"), QStringLiteral("-C"),
                                              QStringLiteral("2"), QStringLiteral("-W"), QStringLiteral("8")});
        QTest::qWait(300);
        publish(QStringLiteral("orvik/hall-1/command"), "power-of");
        publish(QStringLiteral("orvik/hall-1/command"), QByteArray(1 << 20, 'C'));
        QTRY_VERIFY_WITH_TIMEOUT(results.state() == QProcess::NotRunning, 10000);
        const QList<QByteArray> lines = results.readAllStandardOutput().split('\n');
        QVERIFY(lines.size() >= 2);
        for (int i = 0; i < 2; ++i) {
            const QJsonObject result = QJsonDocument::fromJson(lines[i]).object();
            QCOMPARE(result.value(QLatin1String("ok")).toBool(), false);
            QVERIFY(!result.value(QLatin1String("error")).toString().isEmpty());
        }
        QTest::qWait(500);
        QCOMPARE(operations(hall1->received()), QByteArray());
    }

    void discoveryConfigsAreComplete()
    {
        const QStringList configs = messages({QStringLiteral("homeassistant/#")}, 1);
        QCOMPARE(configs.size(), 20); // five a projector
        for (const QString& line : configs) {
            const QJsonObject config = QJsonDocument::fromJson(line.section(u' ', 1).toUtf8()).object();
            for (const char* key : {"unique_id", "object_id", "state_topic", "name", "device", "availability"})
                QVERIFY2(config.contains(QLatin1String(key)), qPrintable(line));
            const QJsonObject device = config.value(QLatin1String("device")).toObject();
            QCOMPARE(device.value(QLatin1String("model")).toString(), QStringLiteral("orvik-control projector"));
            QCOMPARE(device.value(QLatin1String("sw_version")).toString(), QStringLiteral("1.30"));
            QCOMPARE(config.value(QLatin1String("availability")).toArray().size(), 2);
        }
        QVERIFY(configs.filter(QStringLiteral("homeassistant/sensor/orvik_hall-2/lamp_hours/config")).size() == 1);
    }

    // The simulator program, ended and started again at the same link, as
    // an adapter pulled out and plugged in.
    void aLostProjectorGoesOfflineAndComesBack()
    {
        const auto availability = [this] {
            const QStringList seen = messages({QStringLiteral("orvik/hall-4/availability")}, 1);
            return seen.isEmpty() ? QString() : seen.last().section(u' ', 1);
        };
        const auto until = [](const std::function<bool()>& done) {
            QElapsedTimer waited;
            waited.start();
            while (!done() && waited.elapsed() < 15000) {}
            return waited.elapsed() < 15000;
        };
        QVERIFY(until([&] { return availability() == u"online"; }));
        simulator.terminate();
        QVERIFY(simulator.waitForFinished(5000));
        QVERIFY(until([&] { return availability() == u"offline"; }));
        simulator.start(QStringLiteral(ORVIK_SIM_PATH), {QStringLiteral("--link"), link("hall-4")});
        QVERIFY(until([&] { return availability() == u"online"; }));
    }

    void aRestartedBrokerGetsEveryStateAgain()
    {
        broker->stop();
        QTest::qWait(500);
        QVERIFY(broker->start()); // empty: it kept nothing
        QStringList retained;
        QVERIFY(until([&] { return (retained = messages({QStringLiteral("orvik/#")}, 1)).size() >= 21; }, 20s));
        QVERIFY(retained.contains(QLatin1String("orvik/hall-2/lamp_hours 77")));
        QVERIFY(retained.contains(QLatin1String("orvik/bridge/availability online")));
    }
};

QTEST_GUILESS_MAIN(TestMqtt)
#include "test_mqtt.moc"
