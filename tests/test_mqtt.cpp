// orvik-mqtt as a site runs it: the real program, a real mosquitto on
// 127.0.0.1 (its own configuration and port) and simulated projectors.
// Read and written with mosquitto_sub and mosquitto_pub. Tolerances are generous.
#include "tests/support/broker.h"
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
#include <pwd.h>
#include <unistd.h>

using namespace orvik;
using sim::PtyProjector;
using namespace std::chrono_literals;
using test::Broker;
using test::output;
using test::tool;
using test::until;

class TestMqtt : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<Broker> broker;
    std::unique_ptr<PtyProjector> hall1, hall2, hall3;
    QProcess service;
    QProcess simulator; // hall-4, a program of its own

    QString link(const char* name) const { return dir.filePath(QLatin1String(name)); }
    // A ports file of one projector, written in this test's folder.
    QString portsFile(const char* file, const char* name, const PtyProjector& projector) const
    {
        QFile ports(dir.filePath(QLatin1String(file)));
        if (ports.open(QIODevice::WriteOnly))
            ports.write(QStringLiteral("%1 %2\n").arg(QLatin1String(name), projector.devicePath()).toUtf8());
        return ports.fileName();
    }
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
                       QStringLiteral("1"), QStringLiteral("--bridge-id"), QStringLiteral("building-a")});
        QVERIFY(service.waitForStarted());
    }

    void cleanupTestCase()
    {
        if (service.state() == QProcess::NotRunning)
            return;
        service.terminate();
        QTRY_VERIFY_WITH_TIMEOUT(service.state() == QProcess::NotRunning, 10000);
        // It said offline on its way out.
        const QStringList last =
            messages({QStringLiteral("orvik/hall-1/availability"), QStringLiteral("orvik/hall-2/availability"),
                      QStringLiteral("orvik/hall-3/availability"), QStringLiteral("orvik/hall-4/availability"),
                      QStringLiteral("orvik/bridge/building-a/availability")},
                     1);
        QCOMPARE(last.filter(QStringLiteral(" offline")).size(), 5);
        simulator.terminate();
        simulator.waitForFinished(5000);
    }

    void everyProjectorsStateIsRetained()
    {
        QStringList retained;
        QVERIFY(until([&] { return (retained = messages({QStringLiteral("orvik/#")}, 1)).size() >= 21; }));
        for (const char* line : {"orvik/bridge/building-a/availability online", "orvik/hall-1/availability online",
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
            for (const char* key : {"unique_id", "default_entity_id", "state_topic", "name", "device", "availability"})
                QVERIFY2(config.contains(QLatin1String(key)), qPrintable(line));
            QVERIFY2(!config.contains(QLatin1String("object_id")), qPrintable(line)); // gone from Home Assistant
            // Its own component: homeassistant/switch/... holds switch.orvik_...
            const QString component = line.section(u'/', 1, 1);
            QVERIFY2(config.value(QLatin1String("default_entity_id")).toString().startsWith(component + u'.'),
                     qPrintable(line));
            const QJsonObject device = config.value(QLatin1String("device")).toObject();
            QCOMPARE(device.value(QLatin1String("model")).toString(), QStringLiteral("orvik-control projector"));
            QCOMPARE(device.value(QLatin1String("sw_version")).toString(), QStringLiteral("1.30"));
            QCOMPARE(config.value(QLatin1String("availability")).toArray().size(), 2);
        }
        QVERIFY(configs.filter(QStringLiteral("homeassistant/sensor/orvik_hall-2/lamp_hours/config")).size() == 1);
        QVERIFY(configs.filter(QStringLiteral("\"default_entity_id\":\"switch.orvik_hall_3_power\"")).size() == 1);
    }

    // A bridge in each building on one broker and prefix: one bridge's end
    // makes its own projectors unavailable, and nobody else's.
    void twoBridgesShareABroker()
    {
        PtyProjector hall5;
        const QString ports = portsFile("ports-b", "hall-5", hall5);
        QProcess second;
        second.start(QStringLiteral(ORVIK_MQTT_PATH),
                     {QStringLiteral("--ports-file"), ports, QStringLiteral("--broker"),
                      QStringLiteral("mqtt://127.0.0.1:") + broker->port(), QStringLiteral("--poll"),
                      QStringLiteral("1"), QStringLiteral("--bridge-id"), QStringLiteral("building-b")});
        QVERIFY(second.waitForStarted());
        // As Home Assistant reads it: available while every topic of a
        // config's availability list says online.
        const auto available = [this] {
            QHash<QString, QString> retained;
            QStringList configs;
            for (const QString& line : messages({QStringLiteral("orvik/#"), QStringLiteral("homeassistant/#")}, 1)) {
                if (line.startsWith(QLatin1String("homeassistant/switch/")))
                    configs.append(line.section(u' ', 1));
                else
                    retained.insert(line.section(u' ', 0, 0), line.section(u' ', 1));
            }
            QMap<QString, bool> byProjector;
            for (const QString& text : configs) {
                const QJsonObject config = QJsonDocument::fromJson(text.toUtf8()).object();
                bool all = true;
                for (const QJsonValue& entry : config.value(QLatin1String("availability")).toArray())
                    all = all && retained.value(entry.toObject().value(QLatin1String("topic")).toString()) == u"online";
                byProjector.insert(
                    config.value(QLatin1String("device")).toObject().value(QLatin1String("name")).toString(), all);
            }
            return byProjector;
        };
        QMap<QString, bool> seen;
        QVERIFY(until(
            [&] {
                seen = available();
                return seen.size() == 5 && !seen.values().contains(false);
            },
            20s));
        second.kill(); // kill -9: the broker publishes its last will
        second.waitForFinished();
        QVERIFY(until(
            [&] {
                seen = available();
                return !seen.value(QStringLiteral("hall-5"), true);
            },
            60s));
        for (const char* name : {"hall-1", "hall-2", "hall-3"})
            QVERIFY2(seen.value(QLatin1String(name)), name);
        QCOMPARE(messages({QStringLiteral("orvik/bridge/+/availability")}, 1),
                 (QStringList{QStringLiteral("orvik/bridge/building-a/availability online"),
                              QStringLiteral("orvik/bridge/building-b/availability offline")}));
    }

    void badNamesAndPrefixesAreRefusedAtStart_data()
    {
        QTest::addColumn<QString>("ports");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("said");
        const QString fine = QStringLiteral("hall-1 /dev/ttyS0\n");
        QTest::newRow("a projector named bridge") << QStringLiteral("bridge /dev/ttyS0\n") << QStringList()
                                                  << QStringLiteral("ports:1: the name 'bridge' is the topics' own");
        QTest::newRow("a device named twice") << QStringLiteral("a /dev/ttyS0\n\nb /dev/ttyS0\n") << QStringList()
                                              << QStringLiteral("ports:3: the device /dev/ttyS0 is named twice");
        QTest::newRow("a wildcard discovery prefix")
            << fine << QStringList{QStringLiteral("--discovery-prefix"), QStringLiteral("ha/#")}
            << QStringLiteral("--discovery-prefix holds the wildcard '#'");
        QTest::newRow("a wildcard topic prefix")
            << fine << QStringList{QStringLiteral("--topic-prefix"), QStringLiteral("a+b")}
            << QStringLiteral("--topic-prefix holds the wildcard '+'");
        QTest::newRow("an empty topic prefix") << fine << QStringList{QStringLiteral("--topic-prefix"), QString()}
                                               << QStringLiteral("--topic-prefix is empty");
        QTest::newRow("an empty level") << fine << QStringList{QStringLiteral("--topic-prefix"), QStringLiteral("a//b")}
                                        << QStringLiteral("--topic-prefix has an empty level");
        QTest::newRow("a bridge id with a slash")
            << fine << QStringList{QStringLiteral("--bridge-id"), QStringLiteral("a/b")}
            << QStringLiteral("--bridge-id takes letters, digits");
    }
    void badNamesAndPrefixesAreRefusedAtStart()
    {
        QFETCH(QString, ports);
        QFETCH(QStringList, options);
        QFETCH(QString, said);
        QTemporaryDir scratch;
        QFile file(scratch.filePath(QStringLiteral("ports")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ports.toUtf8());
        file.close();
        const sim::ProgramRun run =
            sim::runWhileServing(QStringLiteral(ORVIK_MQTT_PATH),
                                 QStringList{QStringLiteral("--ports-file"), file.fileName()} + options, 10s);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(said.toUtf8()), run.err.constData());
    }

    // A broker that wants a password: its refusal said once, in its words;
    // with the credentials, the states arrive.
    void aRefusingBrokerIsSaidOnceInItsWords()
    {
        Broker locked(QStringLiteral("site"), QStringLiteral("s3cret"));
        QVERIFY(locked.start());
        PtyProjector hall;
        const QString ports = portsFile("ports-locked", "hall-9", hall);
        const QStringList base{QStringLiteral("--ports-file"), ports,
                               QStringLiteral("--broker"),     QStringLiteral("mqtt://127.0.0.1:") + locked.port(),
                               QStringLiteral("--bridge-id"),  QStringLiteral("locked")};
        QProcess refused;
        refused.start(QStringLiteral(ORVIK_MQTT_PATH), base);
        QByteArray said;
        QVERIFY(until(
            [&] { return (said += (QTest::qWait(50), refused.readAllStandardError())).contains("not authorised"); },
            5s));
        QTest::qWait(4000); // retries at 1, 2 and 4 s
        said += refused.readAllStandardError();
        QCOMPARE(said.count("broker"), 1);
        QVERIFY2(said.contains("orvik-mqtt: the broker at 127.0.0.1:" + locked.port().toUtf8()
                               + " refused the connection: not authorised. Check --username"),
                 said.constData());
        refused.terminate();
        refused.waitForFinished();

        QFile password(dir.filePath(QStringLiteral("password")));
        QVERIFY(password.open(QIODevice::WriteOnly));
        password.write("s3cret\n");
        password.close();
        QProcess allowed;
        allowed.start(QStringLiteral(ORVIK_MQTT_PATH),
                      base
                          + QStringList{QStringLiteral("--username"), QStringLiteral("site"),
                                        QStringLiteral("--password-file"), password.fileName()});
        const QStringList args{QStringLiteral("-p"),
                               locked.port(),
                               QStringLiteral("-u"),
                               QStringLiteral("site"),
                               QStringLiteral("-P"),
                               QStringLiteral("s3cret"),
                               QStringLiteral("-v"),
                               QStringLiteral("-W"),
                               QStringLiteral("1"),
                               QStringLiteral("-t"),
                               QStringLiteral("orvik/hall-9/power")};
        QVERIFY(until([&] { return output(tool("mosquitto_sub"), args).contains("orvik/hall-9/power on"); }, 15s));
        allowed.terminate();
        allowed.waitForFinished();
    }

    void anAbsentBrokerIsSaidOnce()
    {
        PtyProjector hall;
        const QString ports = portsFile("ports-absent", "hall-8", hall);
        const sim::ProgramRun run =
            sim::runWhileServing(QStringLiteral(ORVIK_MQTT_PATH),
                                 {QStringLiteral("--ports-file"), ports, QStringLiteral("--broker"),
                                  QStringLiteral("mqtt://127.0.0.1:") + QString::number(test::freePort())},
                                 10s);
        QVERIFY(!run.ended); // a service: it keeps trying
        QCOMPARE(run.err.count("broker"), 1);
        QVERIFY2(run.err.contains("cannot reach the broker at 127.0.0.1:"), run.err.constData());
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
        QVERIFY(retained.contains(QLatin1String("orvik/bridge/building-a/availability online")));
    }

    // A projector taken out of the ports file leaves no retained topic or
    // discovery config behind once its bridge starts again; other bridges'
    // projectors keep theirs.
    void aProjectorRemovedFromThePortsFileIsCleared()
    {
        PtyProjector hall6, hall7;
        QFile ports(dir.filePath(QStringLiteral("ports-c")));
        const auto run = [&](const QString& lines, int retainedAtLeast) {
            if (!ports.open(QIODevice::WriteOnly | QIODevice::Truncate))
                return false;
            ports.write(lines.toUtf8());
            ports.close();
            QProcess bridge;
            bridge.start(QStringLiteral(ORVIK_MQTT_PATH),
                         {QStringLiteral("--ports-file"), ports.fileName(), QStringLiteral("--broker"),
                          QStringLiteral("mqtt://127.0.0.1:") + broker->port(), QStringLiteral("--bridge-id"),
                          QStringLiteral("building-c")});
            const bool up = until([&] {
                return messages({QStringLiteral("orvik/hall-6/#"), QStringLiteral("orvik/hall-7/#")}, 1).size()
                       >= retainedAtLeast;
            });
            bridge.terminate();
            return bridge.waitForFinished(10000) && up;
        };
        const QString hall6Line = QStringLiteral("hall-6 %1\n").arg(hall6.devicePath());
        QVERIFY(run(hall6Line + QStringLiteral("hall-7 %1\n").arg(hall7.devicePath()), 10));
        QCOMPARE(messages({QStringLiteral("homeassistant/+/orvik_hall-7/+/config")}, 1).size(), 5);
        QVERIFY(run(hall6Line, 5));
        QCOMPARE(
            messages({QStringLiteral("orvik/hall-7/#"), QStringLiteral("homeassistant/+/orvik_hall-7/+/config")}, 1),
            QStringList());
        QCOMPARE(messages({QStringLiteral("homeassistant/+/orvik_hall-6/+/config")}, 1).size(), 5);
        QVERIFY(messages({QStringLiteral("orvik/hall-1/power")}, 1).size() == 1);
    }
};

QTEST_GUILESS_MAIN(TestMqtt)
#include "test_mqtt.moc"
