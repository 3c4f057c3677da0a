#include "control_socket/service_client.h"

#include "core/logging.h"
#include "link/port_map.h"

#include <QJsonArray>

namespace orvik::control {
namespace {

using Clock = std::chrono::steady_clock;

QString string(const QJsonObject& object, const char* key) { return object.value(QLatin1String(key)).toString(); }

} // namespace

ServiceClient::ServiceClient(QString path)
    : path_(std::move(path))
{
}

ServiceClient::~ServiceClient()
{
    QObject::disconnect(&socket_, nullptr, this, nullptr);
    socket_.abort();
}

std::unique_ptr<ServiceClient> ServiceClient::connect(const QString& path, std::chrono::milliseconds wait,
                                                      QString* error)
{
    error->clear();
    std::unique_ptr<ServiceClient> client(new ServiceClient(path));
    QLocalSocket& socket = client->socket_;
    socket.connectToServer(path);
    if (!socket.waitForConnected(int(wait.count()))) {
        if (socket.error() == QLocalSocket::SocketAccessError)
            *error = refusal(path);
        return nullptr; // no socket, or nobody listening: no service
    }
    const auto deadline = Clock::now() + wait;
    socket.write(encode({{QStringLiteral("op"), QStringLiteral("hello")}}));
    socket.flush();
    const auto hello = client->await(deadline, error);
    if (!hello)
        return nullptr;
    if (hello->contains(QStringLiteral("error"))) {
        *error = QStringLiteral("%1: %2").arg(path, string(*hello, "error"));
        return nullptr;
    }
    client->service_ = QStringLiteral("%1 (process %2)")
                           .arg(string(*hello, "service"))
                           .arg(hello->value(QStringLiteral("pid")).toInteger());
    for (const QJsonValue& port : hello->value(QStringLiteral("ports")).toArray())
        client->held_.append({string(port.toObject(), "name"), string(port.toObject(), "device")});
    QObject::connect(&socket, &QLocalSocket::readyRead, client.get(), &ServiceClient::onReadable);
    QObject::connect(&socket, &QLocalSocket::disconnected, client.get(),
                     [c = client.get()] { c->fail(QStringLiteral("%1 went away").arg(c->service_)); });
    return client;
}

std::optional<QJsonObject> ServiceClient::await(Clock::time_point deadline, QString* error)
{
    for (;;) {
        if (const auto line = reader_.next()) {
            auto message = decode(*line);
            if (const QString* why = std::get_if<QString>(&message)) {
                *error = QStringLiteral("%1 answered something else than its messages: %2").arg(path_, *why);
                return std::nullopt;
            }
            return std::get<QJsonObject>(message);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (reader_.overflowed() || left.count() <= 0
            || (!socket_.bytesAvailable() && !socket_.waitForReadyRead(int(left.count())))) {
            *error = socket_.state() == QLocalSocket::ConnectedState
                         ? QStringLiteral("%1: no answer from the service").arg(path_)
                         : QStringLiteral("%1: the service went away").arg(path_);
            return std::nullopt;
        }
        reader_.append(socket_.read(kMaxLine));
    }
}

std::optional<QString> ServiceClient::holds(const QString& device) const
{
    const QString canonical = canonicalDevicePath(device);
    for (const Held& h : held_)
        if (h.device == canonical || h.device == device)
            return h.device;
    return std::nullopt;
}

void ServiceClient::run(const QString& device, const QString& command, Done done)
{
    if (!connected())
        return done(portFailure(gone_));
    if (waiting_.size() >= kMaxWaiting)
        return done(portFailure(QStringLiteral("more than %1 commands wait for %2").arg(kMaxWaiting).arg(service_)));
    const qint64 id = nextId_++;
    waiting_.insert(id, std::move(done));
    socket_.write(encode({{QStringLiteral("op"), QStringLiteral("run")},
                          {QStringLiteral("id"), id},
                          {QStringLiteral("device"), device},
                          {QStringLiteral("command"), command}}));
}

void ServiceClient::onReadable()
{
    while (socket_.bytesAvailable() > 0 && connected()) {
        reader_.append(socket_.read(kMaxLine));
        while (const auto line = reader_.next()) {
            auto message = decode(*line);
            if (const QString* why = std::get_if<QString>(&message))
                return fail(QStringLiteral("%1 sent something else than its messages: %2").arg(service_, *why));
            const QJsonObject& object = std::get<QJsonObject>(message);
            const auto it = waiting_.find(object.value(QStringLiteral("id")).toInteger());
            if (it == waiting_.end())
                continue; // not ours to answer
            const Done done = std::move(*it);
            waiting_.erase(it);
            done(object.contains(QStringLiteral("outcome"))
                     ? outcomeFromJson(object.value(QStringLiteral("outcome")).toObject())
                     : portFailure(QStringLiteral("%1: %2").arg(service_, string(object, "error"))));
            if (!connected())
                return;
        }
        if (reader_.overflowed())
            return fail(QStringLiteral("%1 sent a line longer than %2 bytes").arg(service_).arg(kMaxLine));
    }
}

void ServiceClient::fail(const QString& why)
{
    if (!connected())
        return;
    gone_ = why;
    socket_.abort();
    const auto waiting = std::exchange(waiting_, {});
    for (const Done& done : waiting)
        done(portFailure(why));
    emit lost(why);
}

std::optional<QString> ServiceClient::lend(const QString& device, const QString& to, qint64 pid,
                                           std::chrono::milliseconds wait)
{
    socket_.write(encode({{QStringLiteral("op"), QStringLiteral("lend")},
                          {QStringLiteral("device"), device},
                          {QStringLiteral("to"), to},
                          {QStringLiteral("pid"), pid}}));
    socket_.flush();
    QString error;
    QObject::disconnect(&socket_, &QLocalSocket::readyRead, this, nullptr);
    const auto answer = await(Clock::now() + wait, &error);
    if (!answer)
        return error;
    if (answer->contains(QStringLiteral("error")))
        return string(*answer, "error");
    return std::nullopt;
}

} // namespace orvik::control
