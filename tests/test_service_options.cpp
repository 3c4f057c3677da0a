// The service's command line read into its options: defaults, what each
// option sets, and the usage errors (status 2) for what cannot be served.
#include "control_socket/messages.h"
#include "gateway/service_options.h"
#include "mqtt/bridge.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace orvik;
using namespace std::chrono_literals;

class TestServiceOptions : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    QString file(const char* name, const QByteArray& text) const
    {
        QFile out(dir.filePath(QLatin1String(name)));
        out.open(QIODevice::WriteOnly);
        out.write(text);
        return out.fileName();
    }
    std::variant<ServiceOptions, int> read(ServiceFaces faces, QStringList arguments) const
    {
        arguments.prepend(QStringLiteral("program"));
        return readServiceOptions(faces, arguments);
    }
    static int status(const std::variant<ServiceOptions, int>& read)
    {
        return std::holds_alternative<int>(read) ? std::get<int>(read) : -1;
    }

private slots:
    void theDefaultsAreAnOrdinarySites()
    {
        const QString ports = file("ports", "hall-1 /dev/ttyUSB0\n");
        const auto mqtt = read(ServiceFaces::Mqtt, {QStringLiteral("--ports-file"), ports});
        QVERIFY(std::holds_alternative<ServiceOptions>(mqtt));
        const ServiceOptions& o = std::get<ServiceOptions>(mqtt);
        QCOMPARE(o.ports.size(), 1);
        QVERIFY(o.onBroker);
        QCOMPARE(o.mqtt.host, QStringLiteral("localhost"));
        QCOMPARE(o.mqtt.port, 1883);
        QCOMPARE(o.bridge.topicPrefix, QStringLiteral("orvik"));
        QCOMPARE(o.timing.poll, 10s);
        QCOMPARE(o.timing.lampPoll, 3600s);
        QCOMPARE(o.timing.replyTimeout, 500ms);
        QCOMPARE(o.controlSocket, control::socketPath());
        QVERIFY(!o.controlSocketGiven);
        QVERIFY(o.prometheus.isEmpty());

        const auto gateway =
            read(ServiceFaces::Any,
                 {QStringLiteral("--ports-file"), file("ports-2", "a /dev/ttyS0 pjlink=:4353\n"),
                  QStringLiteral("--control-socket"), QStringLiteral("/run/x.sock"), QStringLiteral("--poll"),
                  QStringLiteral("5"), QStringLiteral("--timeout"), QStringLiteral("1500")});
        QVERIFY(std::holds_alternative<ServiceOptions>(gateway));
        const ServiceOptions& g = std::get<ServiceOptions>(gateway);
        QVERIFY(!g.onBroker);
        QCOMPARE(g.listeners.size(), 1);
        QVERIFY(g.controlSocketGiven);
        QCOMPARE(g.controlSocket, QStringLiteral("/run/x.sock"));
        QCOMPARE(g.timing.poll, 5s);
        QCOMPARE(g.timing.replyTimeout, 1500ms); // a projector slow to answer
    }

    // Both password files are read as far as a password goes, no further.
    void passwordsAreBounded()
    {
        const QString ports = file("ports-3", "a /dev/ttyS0 pjlink=:4354\n");
        const auto pjlink = [&](const QByteArray& password) {
            return read(ServiceFaces::Any, {QStringLiteral("--ports-file"), ports,
                                            QStringLiteral("--pjlink-password-file"), file("pjlink", password)});
        };
        QCOMPARE(std::get<ServiceOptions>(pjlink(QByteArray(32, 'p') + '\n')).pjlink.password, QByteArray(32, 'p'));
        QCOMPARE(status(pjlink(QByteArray(33, 'p') + '\n')), 2);
        QCOMPARE(status(pjlink("\n")), 2);

        const auto mqtt = [&](const QByteArray& password) {
            return read(ServiceFaces::Mqtt, {QStringLiteral("--ports-file"), ports, QStringLiteral("--password-file"),
                                             file("mqtt", password)});
        };
        QCOMPARE(std::get<ServiceOptions>(mqtt("secret\nsecond line\n")).mqtt.password, QStringLiteral("secret"));
        QCOMPARE(std::get<ServiceOptions>(mqtt(QByteArray(1024, 'm'))).mqtt.password, QString(1024, u'm'));
        QCOMPARE(status(mqtt(QByteArray(100'000, 'm'))), 2);
        QCOMPARE(
            status(read(ServiceFaces::Mqtt, {QStringLiteral("--ports-file"), ports, QStringLiteral("--password-file"),
                                             dir.filePath(QStringLiteral("none"))})),
            2);
    }

    void whatCannotBeServedIsAUsageError_data()
    {
        QTest::addColumn<int>("faces");
        QTest::addColumn<QStringList>("arguments");
        const QString ports = QStringLiteral("ports-4");
        QTest::newRow("no ports file") << int(ServiceFaces::Mqtt) << QStringList{};
        QTest::newRow("nothing to serve")
            << int(ServiceFaces::Any) << QStringList{QStringLiteral("--ports-file"), ports};
        QTest::newRow("a broker of another scheme")
            << int(ServiceFaces::Mqtt)
            << QStringList{QStringLiteral("--ports-file"), ports, QStringLiteral("--broker"),
                           QStringLiteral("http://h:1")};
        QTest::newRow("a poll of no seconds")
            << int(ServiceFaces::Mqtt)
            << QStringList{QStringLiteral("--ports-file"), ports, QStringLiteral("--poll"), QStringLiteral("0")};
        QTest::newRow("a time-out of no time")
            << int(ServiceFaces::Mqtt)
            << QStringList{QStringLiteral("--ports-file"), ports, QStringLiteral("--timeout"), QStringLiteral("0")};
        QTest::newRow("--username without a broker")
            << int(ServiceFaces::Any) << QStringList{QStringLiteral("--ports-file"), ports,
                                                     QStringLiteral("--prometheus"), QStringLiteral("m"),
                                                     QStringLiteral("--username"),   QStringLiteral("u")};
    }
    void whatCannotBeServedIsAUsageError()
    {
        QFETCH(int, faces);
        QFETCH(QStringList, arguments);
        file("ports-4", "hall-1 /dev/ttyUSB0\n");
        for (QString& argument : arguments)
            if (argument == u"ports-4")
                argument = dir.filePath(argument);
        QCOMPARE(status(read(ServiceFaces(faces), arguments)), 2);
    }

    // Any name serves on the broker under a name its topics can spell; two
    // that would be spelled the same are refused.
    void namesAreSpelledForTopics()
    {
        QCOMPARE(Bridge::topicName(QStringLiteral("hall-1_B")), QStringLiteral("hall-1_B"));
        QCOMPARE(Bridge::topicName(QStringLiteral("Hörsaal-2")), QStringLiteral("Horsaal-2"));
        QCOMPARE(Bridge::topicName(QStringLiteral("(Aula)Süd/3#")), QStringLiteral("Aula_Sud_3"));
        QCOMPARE(Bridge::topicName(QStringLiteral("会議室")), QStringLiteral("projector"));
        const QStringList broker{QStringLiteral("--ports-file"), dir.filePath(QStringLiteral("ports-5")),
                                 QStringLiteral("--broker"), QStringLiteral("mqtt://h:1")};
        file("ports-5", "Hörsaal-2 /dev/ttyUSB0\n");
        QCOMPARE(status(read(ServiceFaces::Mqtt, broker)), -1); // read
        file("ports-5", "Hörsaal-2 /dev/ttyUSB0\nHorsaal-2 /dev/ttyUSB1\n");
        QCOMPARE(status(read(ServiceFaces::Mqtt, broker)), 2);
    }
};

QTEST_GUILESS_MAIN(TestServiceOptions)
#include "test_service_options.moc"
