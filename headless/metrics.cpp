#include "headless/metrics.h"

#include "protocol/status_queries.h"

#include <QSaveFile>

namespace orvik {
namespace {

QString label(const QString& value)
{
    QString out = value;
    out.replace(u'\\', QLatin1String("\\\\")).replace(u'"', QLatin1String("\\\"")).replace(u'\n', QLatin1String("\\n"));
    return u'"' + out + u'"';
}

} // namespace

void Metrics::add(const QString& projector)
{
    if (!projectors_.contains(projector))
        order_.append(projector);
    projectors_[projector];
}

void Metrics::record(const QString& projector, const Command& command, const Outcome& outcome)
{
    Projector& p = projectors_[projector];
    if (!outcome.ok)
        return;
    p.up = true;
    if (outcome.replyMs)
        p.replySeconds = double(*outcome.replyMs) / 1000.0;
    if (const auto state = reportedState(command, outcome))
        p.states.insert(state->name, state->value);
}

void Metrics::clear(const QString& projector)
{
    if (projectors_.contains(projector))
        projectors_[projector] = {};
}

QByteArray Metrics::text() const
{
    QString out;
    const auto family = [&out](const char* name, const char* help) {
        out += QStringLiteral("# HELP %1 %2\n# TYPE %1 gauge\n").arg(QLatin1String(name), QLatin1String(help));
    };
    family("orvik_up", "Whether the projector answered in the last run (1) or not (0).");
    for (const QString& name : order_)
        out += QStringLiteral("orvik_up{projector=%1} %2\n").arg(label(name)).arg(projectors_[name].up ? 1 : 0);

    // One series a state, 1 for the current one, for projectors that said.
    const auto oneOf = [&](const char* metric, const char* key, const StatusQuery& query) {
        const QStringList states = stateKeys(query);
        const QString of = QString::fromLatin1(query.stateName.data(), qsizetype(query.stateName.size()));
        for (const QString& name : order_) {
            const QString now = projectors_[name].states.value(of);
            for (const QString& state : now.isEmpty() ? QStringList() : states)
                out += QStringLiteral("%1{projector=%2,%3=%4} %5\n")
                           .arg(QLatin1String(metric), label(name), QLatin1String(key), label(state))
                           .arg(state == now ? 1 : 0);
        }
    };
    family("orvik_power_state", "The projector's power state: 1 for the current state, 0 for the others.");
    oneOf("orvik_power_state", "state", queries::kPower);

    family("orvik_lamp_hours", "Hours of lamp use, as the projector counts them.");
    for (const QString& name : order_)
        if (const QString hours = projectors_[name].states.value(QStringLiteral("lamp_hours")); !hours.isEmpty())
            out += QStringLiteral("orvik_lamp_hours{projector=%1} %2\n").arg(label(name), hours);

    family("orvik_input", "The selected input: 1 for the current input, 0 for the other.");
    oneOf("orvik_input", "input", queries::kInput);

    family("orvik_reply_seconds", "Time from the last answered frame sent to the end of its reply.");
    for (const QString& name : order_)
        if (const auto seconds = projectors_[name].replySeconds)
            out += QStringLiteral("orvik_reply_seconds{projector=%1} %2\n").arg(label(name)).arg(*seconds, 0, 'f', 3);
    return out.toUtf8();
}

bool Metrics::write(const QString& path, QString* error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text()) < 0 || !file.commit()) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace orvik
