#include "send/metrics.h"

#include "commands/status_queries.h"

#include <QSaveFile>

namespace orvik {
namespace {

QString label(const QString& value)
{
    QString out = value;
    out.replace(u'\\', QLatin1String("\\\\")).replace(u'"', QLatin1String("\\\"")).replace(u'\n', QLatin1String("\\n"));
    return u'"' + out + u'"';
}

QStringList statesOf(const StatusQuery& query)
{
    QStringList states;
    for (const StatusRow& row : query.table) {
        const QString state = QString::fromLatin1(row.state.data(), qsizetype(row.state.size()));
        if (!states.contains(state))
            states.append(state);
    }
    return states;
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
    p.replySeconds = double(outcome.ms) / 1000.0;
    if (command.query == &queries::kPower)
        p.power = outcome.state;
    else if (command.query == &queries::kInput)
        p.input = outcome.state;
    else if (command.query == &queries::kLampTime)
        p.lampHours = outcome.hours;
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

    family("orvik_power_state", "The projector's power state: 1 for the current state, 0 for the others.");
    const QStringList powerStates = statesOf(queries::kPower);
    for (const QString& name : order_) {
        const Projector& p = projectors_[name];
        if (p.power.isEmpty())
            continue;
        for (const QString& state : powerStates)
            out += QStringLiteral("orvik_power_state{projector=%1,state=%2} %3\n")
                       .arg(label(name), label(state))
                       .arg(state == p.power ? 1 : 0);
    }

    family("orvik_lamp_hours", "Hours of lamp use, as the projector counts them.");
    for (const QString& name : order_)
        if (const auto hours = projectors_[name].lampHours)
            out += QStringLiteral("orvik_lamp_hours{projector=%1} %2\n").arg(label(name)).arg(*hours);

    family("orvik_input", "The selected input: 1 for the current input, 0 for the other.");
    const QStringList inputs = statesOf(queries::kInput);
    for (const QString& name : order_) {
        const Projector& p = projectors_[name];
        if (p.input.isEmpty())
            continue;
        for (const QString& input : inputs)
            out += QStringLiteral("orvik_input{projector=%1,input=%2} %3\n")
                       .arg(label(name), label(input))
                       .arg(input == p.input ? 1 : 0);
    }

    family("orvik_reply_seconds", "Time from the last answered frame to the end of its reply.");
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
