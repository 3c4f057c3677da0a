#pragma once

#include "mqtt/mqtt_client.h"
#include "mqtt/projector_node.h"

#include <QObject>

#include <memory>
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
    };
    // Longest command payload taken.
    static constexpr qsizetype kMaxPayload = 256;

    Bridge(Settings settings, MqttClient& client, std::vector<std::unique_ptr<ProjectorNode>> nodes,
           QObject* parent = nullptr);

    void start();
    // The retained "offline" of every projector and of the bridge itself.
    QList<std::pair<QString, QByteArray>> lastWords() const;

    static QString bridgeTopic(const QString& prefix) { return prefix + QStringLiteral("/bridge/availability"); }

private:
    void onConnected();
    void onMessage(const QString& topic, const QByteArray& payload);
    void publishState(const ProjectorNode& node, const QString& name, const QString& value);
    void publishResult(const ProjectorNode& node, const Command& command, const Outcome& outcome);
    void publishDiscovery(const ProjectorNode& node);
    QString topic(const ProjectorNode& node, const QString& leaf) const;

    Settings settings_;
    MqttClient& client_;
    std::vector<std::unique_ptr<ProjectorNode>> nodes_;
};

} // namespace orvik
