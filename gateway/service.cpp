#include "gateway/service.h"

#include "control_socket/messages.h"
#include "core/clock.h"
#include "core/exit_signals.h"
#include "core/logging.h"
#include "core/process_limits.h"
#include "gateway/control_face.h"
#include "gateway/metrics_file.h"
#include "headless/command_line.h"
#include "headless/ports_file.h"
#include "link/port_map.h"
#include "mqtt/bridge.h"
#include "mqtt/mqtt_client.h"
#include "pjlink/address.h"
#include "pjlink/face.h"
#include "service/projector_node.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSysInfo>
#include <QUrl>

#include <cstdio>

namespace orvik {
namespace {

constexpr const char* kAboutMqtt = "Puts every projector of a ports file on an MQTT broker, with Home Assistant "
                                   "discovery.";
constexpr const char* kAboutGateway = "Owns the ports of a ports file and serves every projector on an MQTT broker, "
                                      "as a PJLink projector, or both.";

constexpr const char* kMoreMqtt = R"(
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

constexpr const char* kMoreGateway = R"(
The ports file is orvik-send's, one "NAME DEVICE [pjlink=[HOST][:PORT]]" a
line, # comments. A projector with a pjlink= field listens there as a PJLink
class 1 projector: HOST an IPv4 address, an IPv6 address in brackets or
localhost (default: every address), PORT 4352 by default. Queries are
answered from the last poll; sets join the projector's queue and are
answered OK once it acknowledged them.

With --broker, every projector is on the broker as well, as orvik-mqtt puts
it; see orvik-mqtt(1) for the topics.

Exit status: 0 after SIGTERM, SIGINT or SIGHUP; 2 for a usage error or a bad
ports file; 1 when the service cannot start (a broker that cannot be set up,
an address that cannot be listened on).
)";

// The password of --pjlink-password-file: its first line.
std::variant<QByteArray, QString> readPassword(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    const QByteArray password = file.readLine(1024).trimmed();
    if (password.isEmpty() || password.size() > 32)
        return QStringLiteral("%1: the first line is the password, 1 to 32 characters").arg(path);
    return password;
}

} // namespace

int runService(int argc, char* argv[], ServiceFaces faces)
{
    const bool gateway = faces == ServiceFaces::Any;
    QCoreApplication app(argc, argv);
    CommandLine line(gateway ? QStringLiteral("orvik-gateway") : QStringLiteral("orvik-mqtt"),
                     QLatin1String(gateway ? kAboutGateway : kAboutMqtt),
                     QLatin1String(gateway ? kMoreGateway : kMoreMqtt));
    const QCommandLineOption broker(QStringLiteral("broker"),
                                    gateway ? QStringLiteral("Serve on the broker at mqtt://HOST:PORT or "
                                                             "mqtts://HOST:PORT (default: no broker).")
                                            : QStringLiteral("mqtt://HOST:PORT or mqtts://HOST:PORT (default "
                                                             "mqtt://localhost:1883)."),
                                    QStringLiteral("URL"),
                                    gateway ? QString() : QStringLiteral("mqtt://localhost:1883"));
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
    const QCommandLineOption pjlinkPasswordFile(QStringLiteral("pjlink-password-file"),
                                                QStringLiteral("Ask PJLink clients for the password in FILE (its "
                                                               "first line, at most 32 characters)."),
                                                QStringLiteral("FILE"));
    const QCommandLineOption controlSocket(
        QStringLiteral("control-socket"),
        QStringLiteral("Let orvik-send and orvik-control reach the projectors through the socket at PATH (default "
                       "%1).")
            .arg(control::socketPath()),
        QStringLiteral("PATH"));
    const QCommandLineOption prometheus(QStringLiteral("prometheus"),
                                        QStringLiteral("Write the projectors' state to FILE after each round of polls, "
                                                       "for node_exporter's textfile collector."),
                                        QStringLiteral("FILE"));
    line.add({broker, caFile, username, passwordFile, clientId, topicPrefix, discoveryPrefix, bridgeId, noDiscovery,
              poll, lampPoll, controlSocket, prometheus});
    if (gateway)
        line.add({pjlinkPasswordFile});
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
    const bool onBroker = !gateway || line.isSet(broker);
    QList<pjlink::Listener> listeners;
    if (gateway) {
        const auto found = pjlink::listenersOf(ports);
        if (const QString* error = std::get_if<QString>(&found))
            return usage(QStringLiteral("%1:%2").arg(line.value(line.portsFile), *error));
        listeners = std::get<QList<pjlink::Listener>>(found);
        if (listeners.isEmpty() && !onBroker && !line.isSet(prometheus))
            return usage(QStringLiteral("nothing to serve: give --broker URL, --prometheus FILE, or pjlink= addresses "
                                        "in %1")
                             .arg(line.value(line.portsFile)));
        for (const QCommandLineOption* o :
             {&caFile, &username, &passwordFile, &clientId, &topicPrefix, &discoveryPrefix, &bridgeId, &noDiscovery})
            if (!onBroker && line.isSet(*o))
                return usage(QStringLiteral("--%1 goes with --broker URL").arg(o->names().constLast()));
    }
    pjlink::Face::Settings pjlinkSettings;
    if (gateway && line.isSet(pjlinkPasswordFile)) {
        const auto password = readPassword(line.value(pjlinkPasswordFile));
        if (const QString* error = std::get_if<QString>(&password))
            return usage(*error);
        pjlinkSettings.password = std::get<QByteArray>(password);
    }
    for (const NamedPort& p : ports) {
        if (!onBroker)
            break;
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
    Bridge::Settings bridge;
    if (onBroker) {
        const QUrl url(parser.value(broker), QUrl::StrictMode);
        if (!url.isValid() || (url.scheme() != u"mqtt" && url.scheme() != u"mqtts") || url.host().isEmpty()
            || (url.path() != QString() && url.path() != u"/"))
            return usage(QStringLiteral("--broker takes mqtt://HOST:PORT or mqtts://HOST:PORT, not '%1'")
                             .arg(parser.value(broker)));
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
        bridge.topicPrefix = parser.value(topicPrefix);
        if (const auto problem = Bridge::prefixProblem(bridge.topicPrefix))
            return usage(QStringLiteral("--topic-prefix %1: a prefix is one or more levels without '+', '#' or NUL")
                             .arg(*problem));
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
    }

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
    std::vector<ProjectorNode*> served;
    for (const NamedPort& p : ports) {
        nodes.push_back(std::make_unique<ProjectorNode>(p, settings, timing, clock));
        served.push_back(nodes.back().get());
        QObject::connect(nodes.back().get(), &ProjectorNode::problem, &app,
                         [](const QString& text) { qCWarning(lcLink).noquote() << text; });
    }

    // The other programs of the family go through the service: a socket
    // given by name must be had, the default one is a convenience.
    ControlFace controlFace(QCoreApplication::applicationName(), served);
    const QString socketPath = line.isSet(controlSocket) ? line.value(controlSocket) : control::socketPath();
    if (const auto error = controlFace.listen(socketPath)) {
        if (line.isSet(controlSocket)) {
            qCCritical(lcControl).noquote() << *error;
            return 1;
        }
        qCWarning(lcControl).noquote()
            << QStringLiteral("%1; orvik-send and orvik-control cannot reach these projectors while this service "
                              "runs (--control-socket PATH gives another place)")
                   .arg(*error);
    }
    std::unique_ptr<MetricsFile> metricsFile;
    if (line.isSet(prometheus)) {
        using namespace std::chrono_literals;
        // After a round: three polls that may each time out.
        metricsFile = std::make_unique<MetricsFile>(line.value(prometheus), served, clock,
                                                    3 * timing.replyTimeout + 1000ms, timing.poll);
    }

    pjlink::Face pjlinkFace(pjlinkSettings, clock);
    for (const pjlink::Listener& l : listeners)
        if (const auto error = pjlinkFace.serve(*nodes[l.index], l.address)) {
            qCCritical(lcPjlink).noquote() << QStringLiteral("%1: cannot listen for PJLink on %2: %3")
                                                  .arg(ports[l.index].name, *ports[l.index].pjlink, *error);
            return 1;
        }

    std::unique_ptr<MqttClient> client;
    std::unique_ptr<Bridge> bridgeFace;
    if (onBroker) {
        client = std::make_unique<MqttClient>(mqtt);
        QObject::connect(client.get(), &MqttClient::connected, &app,
                         [&] {
                             qCInfo(lcMqtt).noquote()
                                 << QStringLiteral("connected to the broker at %1:%2").arg(mqtt.host).arg(mqtt.port);
                         });
        QObject::connect(client.get(), &MqttClient::disconnected, &app,
                         [](const QString& why) { qCWarning(lcMqtt).noquote() << why; });
        bridgeFace = std::make_unique<Bridge>(bridge, *client, served);
        QString error;
        if (!client->start(&error)) {
            qCCritical(lcMqtt).noquote() << error;
            return 1;
        }
    }
    for (const auto& node : nodes)
        node->start();
    if (metricsFile)
        metricsFile->start();
    QCoreApplication::exec();
    // Ended by a signal: every projector and the bridge say offline first.
    if (client)
        client->finish(bridgeFace->lastWords(), std::chrono::milliseconds(2000));
    return 0;
}

} // namespace orvik
