#include "mqtt/bridge.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <array>

namespace orvik {
namespace {

QByteArray json(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

// Every retained topic of a projector, and its discovery configs.
constexpr std::array kRetainedLeaves{
    "power", "input", "setting", "lamp_hours", "availability", "availability_reason", "video_mute", "audio_mute"};
struct Entity {
    const char* component;
    const char* key;
};
constexpr std::array<Entity, 5> kEntities{{{"switch", "power"},
                                           {"select", "input"},
                                           {"sensor", "lamp_hours"},
                                           {"sensor", "power_state"},
                                           {"sensor", "setting"}}};

// Home Assistant's ids take letters, digits, '_' and '-' only.
QString idOf(QString text)
{
    for (QChar& c : text)
        if (!c.isLetterOrNumber() && c != u'_' && c != u'-')
            c = u'_';
    return text;
}

} // namespace

Bridge::Bridge(Settings settings, MqttClient& client, std::vector<ProjectorNode*> nodes, QObject* parent)
    : QObject(parent)
    , settings_(std::move(settings))
    , client_(client)
    , nodes_(std::move(nodes))
{
    connect(&client_, &MqttClient::connected, this, &Bridge::onConnected);
    connect(&client_, &MqttClient::message, this, &Bridge::onMessage);
    for (const ProjectorNode* n : nodes_) {
        connect(n, &ProjectorNode::stateChanged, this,
                [this, n](const QString& name, const QString& value) { publishState(*n, name, value); });
        connect(n, &ProjectorNode::commandDone, this,
                [this, n](const Command& command, const Outcome& outcome) { publishResult(*n, command, outcome); });
    }
}

std::optional<QString> Bridge::prefixProblem(const QString& prefix)
{
    if (prefix.isEmpty())
        return QStringLiteral("is empty");
    if (prefix.split(u'/').contains(QString()))
        return QStringLiteral("has an empty level ('%1')").arg(prefix);
    for (const QChar c : {QChar(u'+'), QChar(u'#'), QChar(u'\0')})
        if (prefix.contains(c))
            return c == u'\0' ? QStringLiteral("holds a NUL character")
                              : QStringLiteral("holds the wildcard '%1' ('%2')").arg(c).arg(prefix);
    return std::nullopt;
}

bool Bridge::isTopicName(const QString& name)
{
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9_-]+$"));
    return allowed.match(name).hasMatch();
}

QString Bridge::topicName(const QString& name)
{
    if (isTopicName(name))
        return name;
    QString out;
    bool gap = false;
    for (const QChar c : name.normalized(QString::NormalizationForm_KD)) {
        if (c.category() == QChar::Mark_NonSpacing)
            continue; // the accent of a decomposed letter
        if (c.unicode() < 128 && (c.isLetterOrNumber() || c == u'_' || c == u'-')) {
            if (gap && !out.isEmpty())
                out += u'_';
            out += c;
            gap = false;
        } else {
            gap = true;
        }
    }
    return out.isEmpty() ? QStringLiteral("projector") : out;
}

QString Bridge::topic(const ProjectorNode& node, const QString& leaf) const
{
    return settings_.topicPrefix + u'/' + topicName(node.port().name) + u'/' + leaf;
}

QList<std::pair<QString, QByteArray>> Bridge::lastWords() const
{
    QList<std::pair<QString, QByteArray>> words;
    for (const auto& node : nodes_)
        words.append({topic(*node, QStringLiteral("availability")), "offline"});
    words.append({bridgeTopic(settings_.topicPrefix, settings_.bridgeId), "offline"});
    return words;
}

void Bridge::onConnected()
{
    // Everything again: the broker may have lost its retained messages.
    client_.publish(bridgeTopic(settings_.topicPrefix, settings_.bridgeId), "online", true);
    // The broker answers the subscription with the last roster before it
    // takes the new one.
    const QString roster = rosterTopic(settings_.topicPrefix, settings_.bridgeId);
    client_.subscribe(roster);
    QJsonArray names;
    for (const auto& node : nodes_)
        names.append(topicName(node->port().name));
    client_.publish(roster, QJsonDocument(names).toJson(QJsonDocument::Compact), true);
    for (const auto& node : nodes_) {
        for (const char* leaf : {"command", "power/set", "input/set"})
            client_.subscribe(topic(*node, QLatin1String(leaf)));
        if (!settings_.discoveryPrefix.isEmpty())
            publishDiscovery(*node);
        const auto& states = node->states();
        for (auto it = states.begin(); it != states.end(); ++it)
            publishState(*node, it.key(), it.value());
    }
}

void Bridge::publishState(const ProjectorNode& node, const QString& name, const QString& value)
{
    client_.publish(topic(node, name), value.toUtf8(), true);
}

void Bridge::publishResult(const ProjectorNode& node, const Command& command, const Outcome& outcome)
{
    client_.publish(topic(node, QStringLiteral("result")),
                    json(toJson(node.port().name, node.port().device, command, outcome)), false);
}

void Bridge::forget(const QString& name)
{
    if (!isTopicName(name) || std::any_of(nodes_.begin(), nodes_.end(), [&](const ProjectorNode* node) {
            return topicName(node->port().name) == name;
        }))
        return;
    for (const char* leaf : kRetainedLeaves)
        client_.publish(settings_.topicPrefix + u'/' + name + u'/' + QLatin1String(leaf), {}, true);
    if (!settings_.discoveryPrefix.isEmpty())
        for (const Entity& entity : kEntities)
            client_.publish(discoveryTopic(name, entity.component, entity.key), {}, true);
}

QString Bridge::discoveryTopic(const QString& name, const char* component, const char* key) const
{
    return QStringLiteral("%1/%2/%3/%4/config")
        .arg(settings_.discoveryPrefix, QLatin1String(component), idOf(settings_.topicPrefix + u'_' + name),
             QLatin1String(key));
}

void Bridge::onMessage(const QString& arrived, const QByteArray& payload)
{
    if (arrived == rosterTopic(settings_.topicPrefix, settings_.bridgeId)) {
        for (const QJsonValue name : QJsonDocument::fromJson(payload.left(64 * 1024)).array())
            forget(name.toString());
        return;
    }
    for (const auto& node : nodes_) {
        const QString base = settings_.topicPrefix + u'/' + topicName(node->port().name) + u'/';
        if (!arrived.startsWith(base))
            continue;
        const QString leaf = arrived.mid(base.size());
        const auto refuse = [&](const QString& why) {
            Command given;
            given.text = QString::fromUtf8(payload.left(64));
            Outcome refused;
            refused.error = why;
            publishResult(*node, given, refused);
        };
        if (payload.size() > kMaxPayload)
            return refuse(QStringLiteral("refused: a payload of %1 bytes; a command is at most %2")
                              .arg(payload.size())
                              .arg(kMaxPayload));
        const QString text = QString::fromUtf8(payload).trimmed();
        QString word;
        if (leaf == u"command")
            word = text;
        else if (leaf == u"power/set")
            word = text == u"ON"    ? QStringLiteral("power-on")
                   : text == u"OFF" ? QStringLiteral("power-off")
                                    : QString();
        else if (leaf == u"input/set")
            word = text == u"computer" ? QStringLiteral("input-pc")
                   : text == u"video"  ? QStringLiteral("input-video")
                                       : QString();
        else
            return;
        if (word.isEmpty())
            return refuse(
                QStringLiteral("refused: %1 takes %2, not '%3'")
                    .arg(leaf, leaf == u"power/set" ? QStringLiteral("ON or OFF") : QStringLiteral("computer or video"),
                         text));
        auto parsed = parseCommand(word);
        if (const QString* error = std::get_if<QString>(&parsed))
            return refuse(*error);
        node->command(std::get<Command>(parsed));
        return;
    }
}

void Bridge::publishDiscovery(const ProjectorNode& node)
{
    const QString name = node.port().name;
    const QString id = idOf(settings_.topicPrefix + u'_' + topicName(name));
    const QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{id}},
        {QStringLiteral("name"), name},
        {QStringLiteral("model"), QStringLiteral("orvik-control projector")},
        {QStringLiteral("sw_version"), QStringLiteral(ORVIK_VERSION)},
        {QStringLiteral("manufacturer"), QStringLiteral("orvik-control")},
    };
    const QJsonArray availability{
        QJsonObject{{QStringLiteral("topic"), topic(node, QStringLiteral("availability"))}},
        QJsonObject{{QStringLiteral("topic"), bridgeTopic(settings_.topicPrefix, settings_.bridgeId)}},
    };
    const auto config = [&](const char* component, const char* key, const char* title, QJsonObject fields) {
        const QString objectId = idOf(id + u'_' + QLatin1String(key)).toLower().replace(u'-', u'_');
        fields.insert(QStringLiteral("name"), QLatin1String(title));
        fields.insert(QStringLiteral("unique_id"), id + u'_' + QLatin1String(key));
        // Home Assistant's entity id, as it reads it since 2025.10 (object_id is gone).
        fields.insert(QStringLiteral("default_entity_id"), QLatin1String(component) + u'.' + objectId);
        fields.insert(QStringLiteral("device"), device);
        fields.insert(QStringLiteral("availability"), availability);
        fields.insert(QStringLiteral("availability_mode"), QStringLiteral("all"));
        client_.publish(discoveryTopic(topicName(name), component, key), json(fields), true);
    };
    config(
        "switch", "power", "Power",
        {{QStringLiteral("state_topic"), topic(node, QStringLiteral("power"))},
         {QStringLiteral("command_topic"), topic(node, QStringLiteral("power/set"))},
         {QStringLiteral("value_template"), QStringLiteral("{{ 'ON' if value in ('on', 'count_down') else 'OFF' }}")},
         {QStringLiteral("payload_on"), QStringLiteral("ON")},
         {QStringLiteral("payload_off"), QStringLiteral("OFF")}});
    config("select", "input", "Input",
           {{QStringLiteral("state_topic"), topic(node, QStringLiteral("input"))},
            {QStringLiteral("command_topic"), topic(node, QStringLiteral("input/set"))},
            {QStringLiteral("options"), QJsonArray{QStringLiteral("computer"), QStringLiteral("video")}}});
    config("sensor", "lamp_hours", "Lamp hours",
           {{QStringLiteral("state_topic"), topic(node, QStringLiteral("lamp_hours"))},
            {QStringLiteral("unit_of_measurement"), QStringLiteral("h")},
            {QStringLiteral("state_class"), QStringLiteral("total_increasing")}});
    config("sensor", "power_state", "Power state",
           {{QStringLiteral("state_topic"), topic(node, QStringLiteral("power"))}});
    config("sensor", "setting", "Picture setting",
           {{QStringLiteral("state_topic"), topic(node, QStringLiteral("setting"))}});
}

} // namespace orvik
