#include "gateway/service_options.h"

#include "control_socket/messages.h"
#include "headless/command_line.h"

#include <QCommandLineParser>
#include <QFile>
#include <QSysInfo>
#include <QUrl>

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
  PREFIX/bridge/ID/projectors     the names it serves (retained); at start the
                                  topics of names no longer served are cleared

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

} // namespace

std::variant<QByteArray, QString> readSecret(const QString& path, qsizetype longest)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    // A line and its end, and one byte more to tell a longer line.
    const QByteArray secret = file.readLine(longest + 3).trimmed();
    if (secret.isEmpty() || secret.size() > longest)
        return QStringLiteral("%1: the first line is the password, 1 to %2 characters").arg(path).arg(longest);
    return secret;
}

std::variant<ServiceOptions, int> readServiceOptions(ServiceFaces faces, const QStringList& arguments)
{
    const bool gateway = faces == ServiceFaces::Any;
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
    if (const auto status = line.parse(arguments))
        return *status;
    ServiceOptions options;
    const QCommandLineParser& parser = line.parser();
    const auto usage = [&line](const QString& message) { return line.usage(message); };
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));
    if (!line.isSet(line.portsFile))
        return usage(QStringLiteral("--ports-file FILE is needed: one NAME DEVICE line per projector"));

    auto read = line.ports();
    if (const QString* error = std::get_if<QString>(&read))
        return usage(*error);
    options.ports = std::get<QList<NamedPort>>(read);
    const QList<NamedPort>& ports = options.ports;
    if (ports.isEmpty())
        return usage(QStringLiteral("%1 names no projector").arg(line.value(line.portsFile)));
    options.onBroker = !gateway || line.isSet(broker);
    const bool onBroker = options.onBroker;
    if (gateway) {
        const auto found = pjlink::listenersOf(ports);
        if (const QString* error = std::get_if<QString>(&found))
            return usage(QStringLiteral("%1:%2").arg(line.value(line.portsFile), *error));
        options.listeners = std::get<QList<pjlink::Listener>>(found);
        if (options.listeners.isEmpty() && !onBroker && !line.isSet(prometheus))
            return usage(QStringLiteral("nothing to serve: give --broker URL, --prometheus FILE, or pjlink= addresses "
                                        "in %1")
                             .arg(line.value(line.portsFile)));
        for (const QCommandLineOption* o :
             {&caFile, &username, &passwordFile, &clientId, &topicPrefix, &discoveryPrefix, &bridgeId, &noDiscovery})
            if (!onBroker && line.isSet(*o))
                return usage(QStringLiteral("--%1 goes with --broker URL").arg(o->names().constLast()));
    }
    if (gateway && line.isSet(pjlinkPasswordFile)) {
        const auto password = readSecret(line.value(pjlinkPasswordFile), pjlink::Face::kLongestPassword);
        if (const QString* error = std::get_if<QString>(&password))
            return usage(*error);
        options.pjlink.password = std::get<QByteArray>(password);
    }
    QHash<QString, const NamedPort*> topicNames;
    for (const NamedPort& p : ports) {
        if (!onBroker)
            break;
        const QString where = QStringLiteral("%1:%2").arg(line.value(line.portsFile)).arg(p.line);
        const QString topicName = Bridge::topicName(p.name);
        if (const NamedPort* other = topicNames.value(topicName))
            return usage(QStringLiteral("%1: the names '%2' (line %3) and '%4' are both %5 on the broker; "
                                        "rename one")
                             .arg(where, other->name)
                             .arg(other->line)
                             .arg(p.name, topicName));
        topicNames.insert(topicName, &p);
        for (const std::string_view reserved : Bridge::kReservedNames)
            if (topicName == QLatin1String(reserved.data(), qsizetype(reserved.size())))
                return usage(QStringLiteral("%1: the name '%2' is the topics' own (PREFIX/%3/...); choose another")
                                 .arg(where, p.name, topicName));
    }

    MqttClient::Settings& mqtt = options.mqtt;
    Bridge::Settings& bridge = options.bridge;
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
            const auto password = readSecret(parser.value(passwordFile), MqttClient::kLongestPassword);
            if (const QString* error = std::get_if<QString>(&password))
                return usage(*error);
            mqtt.password = QString::fromUtf8(std::get<QByteArray>(password));
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

    ProjectorNode::Timing& timing = options.timing;
    const auto pollSeconds = line.number(poll, 1, 86'400);
    if (!pollSeconds)
        return usage(QStringLiteral("--poll takes seconds from 1 to 86400"));
    timing.poll = std::chrono::seconds(*pollSeconds);
    const auto lampSeconds = line.number(lampPoll, 1, 7 * 86'400);
    if (!lampSeconds)
        return usage(QStringLiteral("--lamp-poll takes seconds from 1 to 604800"));
    timing.lampPoll = std::chrono::seconds(*lampSeconds);
    const auto timeout = line.replyTimeout();
    if (const QString* error = std::get_if<QString>(&timeout))
        return usage(*error);
    timing.replyTimeout = std::get<Millis>(timeout);
    const auto atSpeed = line.lineSettings();
    if (const QString* error = std::get_if<QString>(&atSpeed))
        return usage(*error);
    options.settings = std::get<LineSettings>(atSpeed);

    options.controlSocketGiven = line.isSet(controlSocket);
    options.controlSocket = options.controlSocketGiven ? line.value(controlSocket) : control::socketPath();
    options.prometheus = line.value(prometheus);
    return options;
}

} // namespace orvik
