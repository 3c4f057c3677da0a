#include "mqtt/mqtt_client.h"

#include "core/logging.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QThread>

#include <mosquitto.h>

namespace orvik {
namespace {

constexpr int kKeepAlive = 30; // seconds
constexpr int kQos = 1;

QString errorText(int rc)
{
    if (rc == MOSQ_ERR_ERRNO)
        return qt_error_string(errno);
    return QString::fromUtf8(mosquitto_strerror(rc));
}

// The broker's refusal in words, and what to check.
QString refusal(int rc)
{
    switch (rc) {
    case 1: return QStringLiteral("unacceptable protocol version");
    case 2: return QStringLiteral("identifier rejected. Check --client-id");
    case 3: return QStringLiteral("server unavailable");
    case 4: return QStringLiteral("bad user name or password. Check --username and --password-file");
    case 5: return QStringLiteral("not authorised. Check --username, --password-file and --client-id");
    default: return QString::fromUtf8(mosquitto_connack_string(rc));
    }
}

struct Library {
    Library() { mosquitto_lib_init(); }
    ~Library() { mosquitto_lib_cleanup(); }
};

} // namespace

MqttClient::MqttClient(Settings settings, QObject* parent)
    : QObject(parent)
    , settings_(std::move(settings))
{
    static Library library;
    housekeeping_.setInterval(std::chrono::milliseconds(500));
    connect(&housekeeping_, &QTimer::timeout, this, [this] {
        if (mosq_)
            afterIo(mosquitto_loop_misc(mosq_));
    });
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &MqttClient::connectNow);
}

MqttClient::~MqttClient()
{
    dropSocket();
    if (mosq_)
        mosquitto_destroy(mosq_);
}

bool MqttClient::start(QString* error)
{
    const QByteArray id = settings_.clientId.toUtf8();
    mosq_ = mosquitto_new(id.isEmpty() ? nullptr : id.constData(), true, this);
    if (!mosq_) {
        *error = QStringLiteral("cannot create an MQTT client: %1").arg(qt_error_string(errno));
        return false;
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // Small packets go at once: Nagle's wait for an acknowledgement would
    // hold a command or a state for tens of milliseconds.
    mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(mosq_, &MqttClient::onConnect);
    mosquitto_disconnect_callback_set(mosq_, &MqttClient::onDisconnect);
    mosquitto_message_callback_set(mosq_, &MqttClient::onMessage);
    if (!settings_.username.isEmpty()) {
        const int rc =
            mosquitto_username_pw_set(mosq_, settings_.username.toUtf8().constData(),
                                      settings_.password.isEmpty() ? nullptr : settings_.password.toUtf8().constData());
        if (rc != MOSQ_ERR_SUCCESS) {
            *error = QStringLiteral("the user name is not accepted: %1").arg(errorText(rc));
            return false;
        }
    }
    if (!settings_.willTopic.isEmpty()) {
        const QByteArray topic = settings_.willTopic.toUtf8();
        mosquitto_will_set(mosq_, topic.constData(), 7, "offline", kQos, true);
    }
    if (settings_.tls) {
        const int rc =
            mosquitto_tls_set(mosq_, settings_.caFile.isEmpty() ? nullptr : settings_.caFile.toLocal8Bit().constData(),
                              settings_.caFile.isEmpty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *error = QStringLiteral("TLS cannot be set up with %1: %2")
                         .arg(settings_.caFile.isEmpty() ? QStringLiteral("/etc/ssl/certs") : settings_.caFile,
                              errorText(rc));
            return false;
        }
    }
    housekeeping_.start();
    connectNow();
    return true;
}

void MqttClient::connectNow()
{
    const int rc =
        addressSet_ ? mosquitto_reconnect_async(mosq_)
                    : mosquitto_connect_async(mosq_, settings_.host.toUtf8().constData(), settings_.port, kKeepAlive);
    if (rc == MOSQ_ERR_SUCCESS) {
        addressSet_ = true; // the address is set: later tries reconnect
        watchSocket();
        return;
    }
    if (rc != MOSQ_ERR_INVAL)
        addressSet_ = true;
    lost(QStringLiteral("cannot reach the broker at %1:%2: %3")
             .arg(settings_.host)
             .arg(settings_.port)
             .arg(errorText(rc)));
}

void MqttClient::watchSocket()
{
    dropSocket();
    const int fd = mosquitto_socket(mosq_);
    if (fd < 0)
        return;
    reader_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(reader_.get(), &QSocketNotifier::activated, this, [this] { afterIo(mosquitto_loop_read(mosq_, 1)); });
    writer_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    connect(writer_.get(), &QSocketNotifier::activated, this, [this] { afterIo(mosquitto_loop_write(mosq_, 1)); });
    updateWriteInterest();
}

void MqttClient::dropSocket()
{
    // Often called from the notifier's own signal: it goes when that returns.
    for (auto* notifier : {&reader_, &writer_}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            notifier->release()->deleteLater();
        }
    }
}

void MqttClient::updateWriteInterest()
{
    if (writer_)
        writer_->setEnabled(mosq_ && mosquitto_want_write(mosq_));
}

void MqttClient::afterIo(int rc)
{
    if (rc == MOSQ_ERR_SUCCESS) {
        if (!reader_ && mosquitto_socket(mosq_) >= 0)
            watchSocket();
        updateWriteInterest();
        return;
    }
    if (rc == MOSQ_ERR_NO_CONN && !reader_)
        return; // between tries
    lost(QStringLiteral("%1 the broker at %2:%3: %4")
             .arg(connected_ ? QStringLiteral("lost the connection to") : QStringLiteral("cannot reach"))
             .arg(settings_.host)
             .arg(settings_.port)
             .arg(errorText(rc)));
}

void MqttClient::lost(const QString& reason)
{
    dropSocket();
    connected_ = false;
    if (retry_.isActive())
        return; // this try's failure is said already
    retry_.start(backoff_);
    backoff_ = std::min(backoff_ * 2, kLastRetry);
    // Said once: again only when the reason changes or after a connection.
    if (reason != lastSaid_)
        emit disconnected(lastSaid_ = reason);
}

void MqttClient::onConnect(mosquitto*, void* self, int rc)
{
    auto* client = static_cast<MqttClient*>(self);
    if (rc != 0) {
        // Refused by the broker (credentials, client id): said, and tried again later.
        client->lost(QStringLiteral("the broker at %1:%2 refused the connection: %3")
                         .arg(client->settings_.host)
                         .arg(client->settings_.port)
                         .arg(refusal(rc)));
        return;
    }
    client->connected_ = true;
    client->lastSaid_.clear();
    client->backoff_ = kFirstRetry;
    emit client->connected();
    client->updateWriteInterest();
}

void MqttClient::onDisconnect(mosquitto*, void* self, int rc)
{
    auto* client = static_cast<MqttClient*>(self);
    if (rc != 0)
        client->lost(QStringLiteral("the broker at %1:%2 closed the connection")
                         .arg(client->settings_.host)
                         .arg(client->settings_.port));
}

void MqttClient::onMessage(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* client = static_cast<MqttClient*>(self);
    emit client->message(QString::fromUtf8(message->topic),
                         QByteArray(static_cast<const char*>(message->payload), message->payloadlen));
}

void MqttClient::publish(const QString& topic, const QByteArray& payload, bool retain)
{
    if (!connected_)
        return;
    const int rc = mosquitto_publish(mosq_, nullptr, topic.toUtf8().constData(), int(payload.size()),
                                     payload.constData(), retain ? kQos : 0, retain);
    if (rc != MOSQ_ERR_SUCCESS)
        qCWarning(lcMqtt).noquote() << QStringLiteral("not published on %1: %2").arg(topic, errorText(rc));
    updateWriteInterest();
}

void MqttClient::subscribe(const QString& topic)
{
    if (!connected_)
        return;
    const int rc = mosquitto_subscribe(mosq_, nullptr, topic.toUtf8().constData(), kQos);
    if (rc != MOSQ_ERR_SUCCESS)
        qCWarning(lcMqtt).noquote() << QStringLiteral("not subscribed to %1: %2").arg(topic, errorText(rc));
    updateWriteInterest();
}

void MqttClient::finish(const QList<std::pair<QString, QByteArray>>& lastWords, std::chrono::milliseconds within)
{
    retry_.stop();
    housekeeping_.stop();
    if (!connected_ || !mosq_)
        return;
    // QoS 0: written now, in order, with nothing to wait for. (At QoS 1 the
    // broker dropped one now and then, its acknowledgements never read.)
    for (const auto& [topic, payload] : lastWords)
        mosquitto_publish(mosq_, nullptr, topic.toUtf8().constData(), int(payload.size()), payload.constData(), 0,
                          true);
    mosquitto_disconnect(mosq_);
    // The end of the program: the last words go out here, not in the loop.
    QElapsedTimer waited;
    waited.start();
    while (mosquitto_want_write(mosq_) && waited.elapsed() < within.count()) {
        if (mosquitto_loop_write(mosq_, 1) != MOSQ_ERR_SUCCESS)
            break;
        if (mosquitto_want_write(mosq_))
            QThread::msleep(5);
    }
    dropSocket();
    connected_ = false;
}

} // namespace orvik
