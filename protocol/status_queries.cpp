#include "protocol/status_queries.h"

#include "protocol/command_set.h"

#include <array>

namespace orvik {
namespace {

constexpr std::array kPowerRows = {
    StatusRow{u" 0 0", u" Power ON", "on"},
    StatusRow{u" 8 0", u" Stand by", "standby"},
    StatusRow{u" 4 0", u" Count down", "count_down"},
    StatusRow{u" 2 0", u" Cooling down", "cooling_down"},
    StatusRow{u" 1 0", u" Power abnormality", "power_abnormality"},
    StatusRow{u" 8 8", u" Temperature abnormality", "temperature_abnormality"},
    StatusRow{u" 2 8", u" Temperature abnormality", "temperature_abnormality"},
    StatusRow{u" 0 2", u" Key input prohibition", "key_input_prohibition"},
};

constexpr std::array kInputRows = {
    StatusRow{u" 1", u" Computer", "computer"},
    StatusRow{u" 3", u" Video", "video"},
};

constexpr std::array kReversalRows = {
    StatusRow{u" 1 1", u" Normally", "normal"},
    StatusRow{u" 1 0", u" Top/Bottom reversal", "top_bottom"},
    StatusRow{u" 0 1", u" Left/Right reversal", "left_right"},
    StatusRow{u" 0 0", u" Top/Bottom , Left/Right reversal", "top_bottom_left_right"},
};

QStringView view(std::u16string_view text) { return QStringView(text.data(), qsizetype(text.size())); }

} // namespace

namespace queries {
const StatusQuery kPower{codes::kStatus, 4, kPowerRows, "power"};
const StatusQuery kInput{codes::kMode, 2, kInputRows, "input"};
const StatusQuery kLampTime{codes::kLampTime, 8, {}, "lamp_hours"};
const StatusQuery kReversal{codes::kSetting, 4, kReversalRows, "setting"};
} // namespace queries

QStringList stateKeys(const StatusQuery& query)
{
    QStringList states;
    for (const StatusRow& row : query.table) {
        const QString state = QString::fromLatin1(row.state.data(), qsizetype(row.state.size()));
        if (!states.contains(state))
            states.append(state);
    }
    return states;
}

const StatusQuery* queryOfFrame(const QString& frame)
{
    for (const StatusQuery* query : {&queries::kPower, &queries::kInput, &queries::kReversal, &queries::kLampTime})
        if (frame == commandFrame(query->code))
            return query;
    return nullptr;
}

const StatusRow* matchingRow(const StatusQuery& query, const QString& rxdLine)
{
    const QStringView prefix = QStringView(rxdLine).left(query.examined);
    const StatusRow* found = nullptr;
    for (const StatusRow& row : query.table) // every row is tested
        if (prefix == view(row.key))
            found = &row;
    return found;
}

std::optional<QString> decodeStatus(const QString& sendBuffer, const QString& rxdLine)
{
    const StatusQuery* query = queryOfFrame(sendBuffer);
    if (!query)
        return std::nullopt;
    if (query->table.empty())
        return QStringView(rxdLine).left(query->examined).toString() + QStringLiteral(" Hour Use");
    if (const StatusRow* row = matchingRow(*query, rxdLine))
        return view(row->text).toString();
    return std::nullopt;
}

} // namespace orvik
