// orvik-mqtt: every projector of a ports file on an MQTT broker, with Home
// Assistant discovery. No display.
#include "core/clock.h"
#include "core/exit_signals.h"
#include "core/logging.h"
#include "core/process_limits.h"
#include "headless/command_line.h"
#include "headless/ports_file.h"
#include "link/port_map.h"
#include "mqtt/bridge.h"
#include "mqtt/mqtt_client.h"
#include "service/projector_node.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSysInfo>
#include <QUrl>

#include <cstdio>

using namespace orvik;

namespace {

constexpr const char* kAbout = "Puts every projector of a ports file on an MQTT broker, with Home Assistant discovery.";

constexpr const char* kMore = R"(
The ports file is orvik-send's: one "NAME DEVICE" a line, # comments. Names
take letters, digits, '_' and '-'; 'bridge' is the topics' own. Topics, with
PREFIX from --topic-prefix and ID from --bridge-id:
  PREFIX/NAME/power, input, setting, lamp_hours, availability   (retained)
  PREFIX/NAME/command     any orvik-send command word (power-off, vol-up:3...)
  PREFIX/NAME/power/set   ON or OFF
  PREFIX/NAME/input/set   computer or video
  PREFIX/NAME/result      one JSON object per command, as orvik-send --json
  PREFIX/bridge/ID/availability   online, or offline (also as the last will)

Several bridges share a broker with one prefix and a bridge id each, or with
a prefix each; a projector is unavailable only when its own bridge is.

Exit status: 0 after SIGTERM, SIGINT or SIGHUP; 2 for a usage error or a bad
ports file; 1 when the service cannot start.
)";

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    CommandLine line(QStringLiteral("orvik-mqtt"), QLatin1String(kAbout), QLatin1String(kMore));
    const QCommandLineOption broker(QStringLiteral("broker"),
                                    QStringLiteral("mqtt://HOST:PORT or mqtts://HOST:PORT (default "
                                                   "mqtt://localhost:1883)."),
                                    QStringLiteral("URL"), QStringLiteral("mqtt://localhost:1883"));
    const QCommandLineOption caFile(QStringLiteral("ca-file"),
                                    QStringLiteral("Certificates to trust for mqtts:// (default: the system's)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption username(QStringLiteral("username"), QStringLiteral("The broker's user name."),
                                      QStringLiteral("NAME"));
    const QCommandLineOption passwordFile(QStringLiteral("password-file"),
                                          QStringLiteral("Read the password from FILE (its first line)."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption clientId(QStringLiteral("client-id"), QStringLiteral("The MQTT client id."),
                                      QStringLiteral("ID"));
    const QCommandLineOption topicPrefix(QStringLiteral("topic-prefix"), QStringLiteral("Topics start with PREFIX."),
                                         QStringLiteral("PREFIX"), QStringLiteral("orvik"));
    const QCommandLineOption discoveryPrefix(QStringLiteral("discovery-prefix"),
                                             QStringLiteral("Home Assistant's discovery prefix."),
                                             QStringLiteral("PREFIX"), QStringLiteral("homeassistant"));
    const QCommandLineOption bridgeId(QStringLiteral("bridge-id"),
                                      QStringLiteral("This bridge among others on the broker: letters, digits, '_' "
                                                     "and '-' (default: the host's name)."),
                                      QStringLiteral("ID"));
    const QCommandLineOption noDiscovery(QStringLiteral("no-discovery"),
                                         QStringLiteral("Publish no Home Assistant discovery configs."));
    const QCommandLineOption poll(QStringLiteral("poll"),
                                  QStringLiteral("Ask status, mode and setting every SECONDS (default 10)."),
                                  QStringLiteral("SECONDS"), QStringLiteral("10"));
    const QCommandLineOption lampPoll(QStringLiteral("lamp-poll"),
                                      QStringLiteral("Ask l-time every SECONDS (default 3600)."),
                                      QStringLiteral("SECONDS"), QStringLiteral("3600"));
    line.add({broker, caFile, username, passwordFile, clientId, topicPrefix, discoveryPrefix, bridgeId, noDiscovery,
              poll, lampPoll});
    if (const auto status = line.parse())
        return *status;
    const QCommandLineParser& parser = line.parser();
    const auto usage = [&line](const QString& message) { return line.usage(message); };
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));
    if (!line.isSet(line.portsFile))
        return usage(QStringLiteral("--ports-file FILE is needed: one NAME DEVICE line per projector"));

    auto read = line.ports();
    if (const QString* error = std::get_if<QString>(&read))
        return usage(*error);
    QList<NamedPort> ports = std::get<QList<NamedPort>>(read);
    if (ports.isEmpty())
        return usage(QStringLiteral("%1 names no projector").arg(line.value(line.portsFile)));
    for (const NamedPort& p : ports) {
        const QString where = QStringLiteral("%1:%2").arg(line.value(line.portsFile)).arg(p.line);
        if (!Bridge::isTopicName(p.name))
            return usage(
                QStringLiteral("%1: the name '%2' may hold only letters, digits, '_' and '-'").arg(where, p.name));
        for (const std::string_view reserved : Bridge::kReservedNames)
            if (p.name == QLatin1String(reserved.data(), qsizetype(reserved.size())))
                return usage(QStringLiteral("%1: the name '%2' is the topics' own (PREFIX/%2/...); choose another")
                                 .arg(where, p.name));
    }

    MqttClient::Settings mqtt;
    const QUrl url(parser.value(broker), QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != u"mqtt" && url.scheme() != u"mqtts") || url.host().isEmpty()
        || (url.path() != QString() && url.path() != u"/"))
        return usage(
            QStringLiteral("--broker takes mqtt://HOST:PORT or mqtts://HOST:PORT, not '%1'").arg(parser.value(broker)));
    mqtt.host = url.host();
    mqtt.tls = url.scheme() == u"mqtts";
    mqtt.port = url.port(mqtt.tls ? 8883 : 1883);
    mqtt.caFile = parser.value(caFile);
    if (!mqtt.caFile.isEmpty() && !mqtt.tls)
        return usage(QStringLiteral("--ca-file goes with an mqtts:// broker"));
    mqtt.username = parser.value(username);
    if (parser.isSet(passwordFile)) {
        QFile file(parser.value(passwordFile));
        if (!file.open(QIODevice::ReadOnly))
            return usage(QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
        mqtt.password = QString::fromUtf8(file.readLine()).trimmed();
    }
    mqtt.clientId = parser.value(clientId);
    Bridge::Settings bridge;
    bridge.topicPrefix = parser.value(topicPrefix);
    if (const auto problem = Bridge::prefixProblem(bridge.topicPrefix))
        return usage(
            QStringLiteral("--topic-prefix %1: a prefix is one or more levels without '+', '#' or NUL").arg(*problem));
    bridge.discoveryPrefix = parser.isSet(noDiscovery) ? QString() : parser.value(discoveryPrefix);
    if (const auto problem = Bridge::prefixProblem(parser.value(discoveryPrefix));
        problem && !parser.isSet(noDiscovery))
        return usage(QStringLiteral("--discovery-prefix %1: a prefix is one or more levels without '+', '#' or NUL")
                         .arg(*problem));
    if (parser.isSet(bridgeId)) {
        bridge.bridgeId = parser.value(bridgeId);
        if (!Bridge::isTopicName(bridge.bridgeId))
            return usage(
                QStringLiteral("--bridge-id takes letters, digits, '_' and '-', not '%1'").arg(bridge.bridgeId));
    } else {
        // The host's name, as far as a topic level takes it.
        bridge.bridgeId = QSysInfo::machineHostName().section(u'.', 0, 0);
        for (QChar& c : bridge.bridgeId)
            if (!Bridge::isTopicName(QString(c)))
                c = u'-';
        if (bridge.bridgeId.isEmpty())
            bridge.bridgeId = QStringLiteral("orvik");
    }
    mqtt.willTopic = Bridge::bridgeTopic(bridge.topicPrefix, bridge.bridgeId);

    ProjectorNode::Timing timing;
    const auto pollSeconds = line.number(poll, 1, 86'400);
    if (!pollSeconds)
        return usage(QStringLiteral("--poll takes seconds from 1 to 86400"));
    timing.poll = std::chrono::seconds(*pollSeconds);
    const auto lampSeconds = line.number(lampPoll, 1, 7 * 86'400);
    if (!lampSeconds)
        return usage(QStringLiteral("--lamp-poll takes seconds from 1 to 604800"));
    timing.lampPoll = std::chrono::seconds(*lampSeconds);
    const auto atSpeed = line.lineSettings();
    if (const QString* error = std::get_if<QString>(&atSpeed))
        return usage(*error);
    const LineSettings settings = std::get<LineSettings>(atSpeed);

    resolveComPorts(ports);
    raiseOpenFilesLimit();
    quitOnTerminationSignals();

    TimerClock clock; // hundreds of alarms: no descriptor each
    std::vector<std::unique_ptr<ProjectorNode>> nodes;
    for (const NamedPort& p : ports) {
        nodes.push_back(std::make_unique<ProjectorNode>(p, settings, timing, clock));
        QObject::connect(nodes.back().get(), &ProjectorNode::problem, &app,
                         [](const QString& text) { qCWarning(lcLink).noquote() << text; });
    }
    MqttClient client(mqtt);
    QObject::connect(&client, &MqttClient::connected, &app, [&] {
        qCInfo(lcMqtt).noquote() << QStringLiteral("connected to the broker at %1:%2").arg(mqtt.host).arg(mqtt.port);
    });
    QObject::connect(&client, &MqttClient::disconnected, &app,
                     [](const QString& why) { qCWarning(lcMqtt).noquote() << why; });
    Bridge service(bridge, client, std::move(nodes));
    QString error;
    if (!client.start(&error)) {
        qCCritical(lcMqtt).noquote() << error;
        return 1;
    }
    service.start();
    QCoreApplication::exec();
    // Ended by a signal: every projector and the bridge say offline first.
    client.finish(service.lastWords(), std::chrono::milliseconds(2000));
    return 0;
}
