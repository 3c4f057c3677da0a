#include "protocol/outcome.h"

#include "protocol/status_queries.h"
#include "protocol/traffic_rendering.h"

#include <QJsonValue>
#include <QRegularExpression>

namespace orvik {
namespace {

constexpr char kAck = 6;

QString withoutLeadingSpace(QStringView text)
{
    return text.startsWith(u' ') ? text.mid(1).toString() : text.toString();
}

QString rendered(const QByteArray& reply) { return renderTraffic(QString::fromLatin1(reply)).trimmed(); }

Outcome readLampTime(Outcome outcome)
{
    static const QRegularExpression digits(QStringLiteral("^([0-9]{1,9})\r"));
    const QRegularExpressionMatch match = digits.match(QString::fromLatin1(outcome.reply));
    if (!match.hasMatch()) {
        outcome.error = QStringLiteral("unexpected reply: %1").arg(rendered(outcome.reply));
        return outcome;
    }
    outcome.hours = match.captured(1).toInt();
    outcome.status = QStringLiteral("%1 hours").arg(*outcome.hours);
    outcome.ok = true;
    return outcome;
}

} // namespace

Outcome readReply(const Command& command, const QByteArray& reply)
{
    Outcome outcome;
    outcome.reply = reply.left(kMaxReply);
    if (reply.isEmpty()) {
        outcome.error = QStringLiteral("no reply");
        return outcome;
    }
    if (command.kind != CommandKind::Query) {
        outcome.ok = reply == QByteArray(1, kAck);
        if (!outcome.ok)
            outcome.error = QStringLiteral("unexpected reply: %1").arg(rendered(reply));
        return outcome;
    }
    if (!command.query) { // a raw query without a table: any reply ending in CR
        outcome.ok = reply.endsWith('\r');
        if (!outcome.ok)
            outcome.error = QStringLiteral("unexpected reply: %1").arg(rendered(reply));
        return outcome;
    }
    if (command.query->table.empty())
        return readLampTime(outcome);
    const StatusRow* row = matchingRow(*command.query, renderTraffic(QString::fromLatin1(reply)));
    if (!row) {
        outcome.error = QStringLiteral("reply not understood: %1").arg(rendered(reply));
        return outcome;
    }
    outcome.status = withoutLeadingSpace(QStringView(row->text.data(), qsizetype(row->text.size())));
    outcome.state = QString::fromLatin1(row->state.data(), qsizetype(row->state.size()));
    outcome.ok = true;
    return outcome;
}

Outcome portFailure(const QString& why)
{
    Outcome outcome;
    outcome.error = why;
    outcome.portFailed = true;
    return outcome;
}

std::optional<ReportedState> reportedState(const Command& command, const Outcome& outcome)
{
    if (!outcome.ok || !command.query || command.query->stateName.empty())
        return std::nullopt;
    const QString name =
        QString::fromLatin1(command.query->stateName.data(), qsizetype(command.query->stateName.size()));
    if (outcome.hours)
        return ReportedState{name, QString::number(*outcome.hours)};
    if (outcome.state.isEmpty())
        return std::nullopt;
    return ReportedState{name, outcome.state};
}

QString portLostText(const QString& reason) { return QStringLiteral("port lost: %1").arg(reason); }

QString resultText(const Outcome& outcome)
{
    if (outcome.status && outcome.ok)
        return *outcome.status;
    if (outcome.ok)
        return outcome.reply.isEmpty() || outcome.reply == QByteArray(1, kAck) ? QStringLiteral("ok")
                                                                               : rendered(outcome.reply);
    if (outcome.portFailed || outcome.reply.isEmpty() || outcome.status) // a status, but not the one awaited
        return outcome.error;
    return rendered(outcome.reply);
}

QJsonObject toJson(const QString& projector, const QString& device, const Command& command, const Outcome& outcome)
{
    const auto orNull = [](const QString& text) { return text.isEmpty() ? QJsonValue() : QJsonValue(text); };
    return {
        {QStringLiteral("projector"), projector},
        {QStringLiteral("device"), device},
        {QStringLiteral("command"), command.text},
        {QStringLiteral("frame"), command.frame},
        {QStringLiteral("reply"), QString::fromLatin1(outcome.reply)},
        {QStringLiteral("status"), outcome.status ? QJsonValue(*outcome.status) : QJsonValue()},
        {QStringLiteral("state"), orNull(outcome.state)},
        {QStringLiteral("hours"), outcome.hours ? QJsonValue(*outcome.hours) : QJsonValue()},
        {QStringLiteral("ok"), outcome.ok},
        {QStringLiteral("error"), orNull(outcome.error)},
        {QStringLiteral("ms"), outcome.ms},
    };
}

} // namespace orvik
