#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>

struct mosquitto;
struct mosquitto_message;
class QSocketNotifier;

namespace orvik {

// An MQTT connection on the Qt event loop: libmosquitto's socket is watched
// by socket notifiers and its housekeeping runs on a timer; no thread of its
// own, no busy loop. A lost or refused connection is tried again after 1 s,
// doubling to 30 s.
class MqttClient : public QObject {
    Q_OBJECT
public:
    struct Settings {
        QString host = QStringLiteral("localhost");
        int port = 1883;
        bool tls = false;
        QString caFile;
        QString username;
        QString password;
        QString clientId;
        QString willTopic; // "offline", retained, when the connection dies
    };
    // Longest password read from its file: MQTT takes more, no site uses it.
    static constexpr qsizetype kLongestPassword = 1024;
    static constexpr std::chrono::seconds kFirstRetry{1};
    static constexpr std::chrono::seconds kLastRetry{30};

    explicit MqttClient(Settings settings, QObject* parent = nullptr);
    ~MqttClient() override;

    // False with the reason when the settings cannot work at all (a CA file
    // that cannot be read); a broker that is not there is tried again.
    bool start(QString* error);
    bool isConnected() const { return connected_; }
    // Retained messages (states) at QoS 1, the others (results) at QoS 0, so
    // that a flood of results is never held waiting for acknowledgements.
    // While disconnected nothing is kept: publish again on connected().
    void publish(const QString& topic, const QByteArray& payload, bool retain);
    void subscribe(const QString& topic);
    // Publishes what must go out before the end, then disconnects; waits for
    // the socket at most `within`.
    void finish(const QList<std::pair<QString, QByteArray>>& lastWords, std::chrono::milliseconds within);

signals:
    void connected();
    void disconnected(const QString& reason);
    void message(const QString& topic, const QByteArray& payload);

private:
    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);

    void connectNow();
    void watchSocket();
    void dropSocket();
    void lost(const QString& reason);
    void afterIo(int rc);
    void updateWriteInterest();

    Settings settings_;
    mosquitto* mosq_ = nullptr;
    std::unique_ptr<QSocketNotifier> reader_;
    std::unique_ptr<QSocketNotifier> writer_;
    QTimer housekeeping_;
    QTimer retry_;
    std::chrono::seconds backoff_ = kFirstRetry;
    bool connected_ = false;
    QString lastSaid_; // the last reason said for not being connected
    bool addressSet_ = false;
};

} // namespace orvik
