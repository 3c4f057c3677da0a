#include "control_socket/messages.h"

#include <QJsonDocument>
#include <QJsonValue>

namespace orvik::control {
namespace {

const QString kV = QStringLiteral("v");

// Numbers the other side sent, kept to what an outcome can hold.
std::optional<qint64> count(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!(number >= 0 && number <= 1e15))
        return std::nullopt;
    return qint64(number);
}

} // namespace

QString socketPath()
{
    const QString given = qEnvironmentVariable("ORVIK_CONTROL_SOCKET");
    return given.isEmpty() ? QStringLiteral("/run/orvik/gateway.sock") : given;
}

QString refusal(const QString& path)
{
    return QStringLiteral("the service's socket %1 lets in root and the group %2 only: join it (adduser %3 %2) and "
                          "log in again")
        .arg(path, QLatin1String(kGroup), qEnvironmentVariable("USER", QStringLiteral("USER")));
}

QByteArray encode(QJsonObject message)
{
    message.insert(kV, kVersion);
    return QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
}

std::variant<QJsonObject, QString> decode(const QByteArray& line)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError)
        return QStringLiteral("not JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset);
    if (!document.isObject())
        return QStringLiteral("not a JSON object");
    const QJsonObject object = document.object();
    if (object.value(kV) != QJsonValue(kVersion))
        return QStringLiteral("version %1 is spoken here, and \"v\" says otherwise").arg(kVersion);
    return object;
}

QJsonObject outcomeToJson(const Outcome& outcome)
{
    QJsonObject object{
        {QStringLiteral("reply"), QString::fromLatin1(outcome.reply)},
        {QStringLiteral("state"), outcome.state},
        {QStringLiteral("ok"), outcome.ok},
        {QStringLiteral("error"), outcome.error},
        {QStringLiteral("ms"), outcome.ms},
        {QStringLiteral("port_failed"), outcome.portFailed},
    };
    if (outcome.status)
        object.insert(QStringLiteral("status"), *outcome.status);
    if (outcome.hours)
        object.insert(QStringLiteral("hours"), *outcome.hours);
    if (outcome.replyMs)
        object.insert(QStringLiteral("reply_ms"), *outcome.replyMs);
    return object;
}

Outcome outcomeFromJson(const QJsonObject& object)
{
    Outcome outcome;
    // Code points above 255 cannot be reply bytes: they become '?'.
    outcome.reply = object.value(QStringLiteral("reply")).toString().toLatin1().left(kMaxReply);
    if (const QJsonValue status = object.value(QStringLiteral("status")); status.isString())
        outcome.status = status.toString();
    outcome.state = object.value(QStringLiteral("state")).toString();
    if (const auto hours = count(object.value(QStringLiteral("hours"))); hours && *hours <= 999'999'999)
        outcome.hours = int(*hours);
    outcome.ok = object.value(QStringLiteral("ok")).toBool();
    outcome.error = object.value(QStringLiteral("error")).toString();
    outcome.ms = count(object.value(QStringLiteral("ms"))).value_or(0);
    outcome.replyMs = count(object.value(QStringLiteral("reply_ms")));
    outcome.portFailed = object.value(QStringLiteral("port_failed")).toBool();
    return outcome;
}

} // namespace orvik::control
