#pragma once

#include "mqtt/mqtt_client.h"
#include "service/projector_node.h"

#include <QObject>

#include <array>
#include <optional>
#include <string_view>
#include <vector>

namespace orvik {

// The projectors on the broker: their states under PREFIX/NAME/..., the
// commands they take from PREFIX/NAME/command, power/set and input/set,
// each command's result on PREFIX/NAME/result, and Home Assistant's
// discovery configs.
class Bridge : public QObject {
    Q_OBJECT
public:
    struct Settings {
        QString topicPrefix = QStringLiteral("orvik");
        QString discoveryPrefix = QStringLiteral("homeassistant"); // empty: no discovery
        QString bridgeId;                                          // this bridge among others on the broker
    };
    // Names the topics use for themselves, which no projector may take.
    static constexpr std::array<std::string_view, 1> kReservedNames{"bridge"};
    // Longest command payload taken.
    static constexpr qsizetype kMaxPayload = 256;

    // The nodes stay the service's: they outlive the bridge.
    Bridge(Settings settings, MqttClient& client, std::vector<ProjectorNode*> nodes, QObject* parent = nullptr);

    // The retained "offline" of every projector and of the bridge itself.
    QList<std::pair<QString, QByteArray>> lastWords() const;

    // This bridge's own availability, and its last will: PREFIX/bridge/ID/availability.
    static QString bridgeTopic(const QString& prefix, const QString& bridgeId)
    {
        return prefix + QStringLiteral("/bridge/") + bridgeId + QStringLiteral("/availability");
    }
    // The projectors this bridge served when it last started, retained: at
    // the next start the topics of those no longer served are cleared.
    static QString rosterTopic(const QString& prefix, const QString& bridgeId)
    {
        return prefix + QStringLiteral("/bridge/") + bridgeId + QStringLiteral("/projectors");
    }
    // What is wrong with a topic prefix, or nothing: empty, an empty level,
    // or a wildcard or NUL, which no topic to publish may hold.
    static std::optional<QString> prefixProblem(const QString& prefix);
    // Whether a name is fit for a topic level and a Home Assistant id.
    static bool isTopicName(const QString& name);
    // A projector's name as its topics and ids spell it: a fit name as it
    // is; any other with its accents dropped and each run of what remains
    // outside letters, digits, '_' and '-' made one '_' ("Hörsaal(2)" is
    // Horsaal_2). The name itself stays in what is shown.
    static QString topicName(const QString& name);

private:
    void onConnected();
    void onMessage(const QString& topic, const QByteArray& payload);
    void publishState(const ProjectorNode& node, const QString& name, const QString& value);
    void publishResult(const ProjectorNode& node, const Command& command, const Outcome& outcome);
    void publishDiscovery(const ProjectorNode& node);
    void forget(const QString& name);
    QString discoveryTopic(const QString& name, const char* component, const char* key) const;
    QString topic(const ProjectorNode& node, const QString& leaf) const;

    Settings settings_;
    MqttClient& client_;
    std::vector<ProjectorNode*> nodes_;
};

} // namespace orvik
