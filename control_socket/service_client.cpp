#include "control_socket/service_client.h"

#include "connection/line_connection.h"
#include "core/logging.h"
#include "link/port_map.h"

#include <QFile>
#include <QJsonArray>

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvik::control {
namespace {

using Clock = std::chrono::steady_clock;

const QString kId = QStringLiteral("id");
const QString kOp = QStringLiteral("op");
const QString kError = QStringLiteral("error");
const QString kGone = QStringLiteral("gone"); // ours, not the service's: why a request was never answered

QString string(const QJsonObject& object, const char* key) { return object.value(QLatin1String(key)).toString(); }

// The service's answers may be long (hello names every port); what the
// client sends waits unread only while the service is busy.
const LineConnection::Limits kLimits{
    .longestLine = kMaxLine + 1, .ends = "\n", .mostUnsent = kMaxWaiting * 1024, .unreadFor = std::chrono::minutes(1)};

} // namespace

ServiceClient::ServiceClient(QString path, int fd)
    : path_(std::move(path))
    , connection_(new LineConnection(fd, kLimits, this))
{
    QObject::connect(connection_, &LineConnection::lineReceived, this, &ServiceClient::onLine);
    QObject::connect(connection_, &LineConnection::lineTooLong, this, [this] {
        fail(QStringLiteral("%1 sent a line longer than %2 bytes").arg(service_).arg(kMaxLine));
    });
    QObject::connect(connection_, &LineConnection::ended, this,
                     [this] { fail(QStringLiteral("%1 went away").arg(service_.isEmpty() ? path_ : service_)); });
}

ServiceClient::~ServiceClient() = default;

std::unique_ptr<ServiceClient> ServiceClient::open(const QString& path, QString* error)
{
    error->clear();
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::size_t(name.size()) >= sizeof address.sun_path)
        return nullptr;
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return nullptr;
    // A local socket connects at once, or not at all: never a wait here.
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int why = errno;
        ::close(fd);
        if (why == EACCES || why == EPERM)
            *error = refusal(path);
        else if (why == EAGAIN)
            *error = QStringLiteral("%1: the service has more connections waiting than it takes").arg(path);
        return nullptr; // no socket, or nobody listening: no service
    }
    return std::unique_ptr<ServiceClient>(new ServiceClient(path, fd));
}

std::unique_ptr<ServiceClient> ServiceClient::connect(const QString& path, std::chrono::milliseconds wait,
                                                      QString* error)
{
    auto client = open(path, error);
    if (!client)
        return nullptr;
    const auto deadline = Clock::now() + wait;
    client->hello_.reset();
    client->connection_->send(encode({{kOp, QStringLiteral("hello")}}));
    while (!client->hello_ && client->connected()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd readable{client->connection_->descriptor(), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&readable, 1, int(left.count())) == 0) {
            *error = QStringLiteral("%1: no answer from the service").arg(path);
            return nullptr;
        }
        client->connection_->readNow();
    }
    if (!client->hello_) {
        *error = QStringLiteral("%1: %2").arg(path, client->gone_);
        return nullptr;
    }
    const QJsonObject hello = *std::exchange(client->hello_, std::nullopt);
    if (hello.contains(kError)) {
        *error = QStringLiteral("%1: %2").arg(path, string(hello, "error"));
        return nullptr;
    }
    client->service_ = QStringLiteral("%1 (process %2)")
                           .arg(string(hello, "service"))
                           .arg(hello.value(QStringLiteral("pid")).toInteger());
    for (const QJsonValue& port : hello.value(QStringLiteral("ports")).toArray())
        client->held_.append({string(port.toObject(), "name"), string(port.toObject(), "device")});
    return client;
}

std::optional<QString> ServiceClient::holds(const QString& device) const
{
    const QString canonical = canonicalDevicePath(device);
    for (const Held& h : held_)
        if (h.device == canonical || h.device == device)
            return h.device;
    return std::nullopt;
}

void ServiceClient::request(QJsonObject message, std::function<void(const QJsonObject&)> answer)
{
    const qint64 id = nextId_++;
    message.insert(kId, id);
    waiting_.insert(id, std::move(answer));
    connection_->send(encode(message));
}

void ServiceClient::run(const QString& device, const QString& command, Done done)
{
    if (!connected())
        return done(portFailure(gone_));
    if (waiting_.size() >= kMaxWaiting)
        return done(portFailure(QStringLiteral("more than %1 commands wait for %2").arg(kMaxWaiting).arg(service_)));
    request({{kOp, QStringLiteral("run")}, {QStringLiteral("device"), device}, {QStringLiteral("command"), command}},
            [this, done = std::move(done)](const QJsonObject& answer) {
                if (answer.contains(kGone))
                    return done(portFailure(answer.value(kGone).toString()));
                done(answer.contains(QStringLiteral("outcome"))
                         ? outcomeFromJson(answer.value(QStringLiteral("outcome")).toObject())
                         : portFailure(QStringLiteral("%1: %2").arg(service_, string(answer, "error"))));
            });
}

void ServiceClient::lend(const QString& device, Lent lent)
{
    if (!connected())
        return lent(gone_);
    request({{kOp, QStringLiteral("lend")}, {QStringLiteral("device"), device}},
            [lent = std::move(lent)](const QJsonObject& answer) {
                if (string(answer, "op") == u"lent")
                    return lent(std::nullopt);
                lent(answer.contains(kGone)    ? answer.value(kGone).toString()
                     : answer.contains(kError) ? string(answer, "error")
                                               : QStringLiteral("an answer to the loan that is neither"));
            });
}

void ServiceClient::onLine(const QByteArray& line)
{
    if (!connected())
        return;
    auto message = decode(line);
    if (const QString* why = std::get_if<QString>(&message))
        return fail(QStringLiteral("%1 sent something else than its messages: %2")
                        .arg(service_.isEmpty() ? path_ : service_, *why));
    const QJsonObject& object = std::get<QJsonObject>(message);
    if (!object.contains(kId)) {
        if (string(object, "op") == u"hello" || object.contains(kError))
            hello_ = object;
        return;
    }
    const auto it = waiting_.find(object.value(kId).toInteger());
    if (it == waiting_.end())
        return; // not ours to answer
    const auto answer = std::move(*it);
    waiting_.erase(it);
    answer(object);
}

void ServiceClient::fail(const QString& why)
{
    if (!connected())
        return;
    gone_ = why;
    connection_->abort();
    const auto waiting = std::exchange(waiting_, {});
    for (const auto& answer : waiting)
        answer({{kGone, why}});
    emit lost(why);
}

} // namespace orvik::control
