#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <span>
#include <string_view>

namespace orvik {

struct StatusRow {
    std::u16string_view key; // the start of the RXD line
    std::u16string_view text;
    std::string_view state; // a fixed name for programs: "on", "computer", "normal"...
};

// A status query, sent like a one-shot button, with the reading of its
// reply: the first `examined` characters of the RXD line are looked up in
// its table. L-TIME has no table: they are shown as they are, then
// " Hour Use".
struct StatusQuery {
    std::string_view code;
    qsizetype examined;
    std::span<const StatusRow> table;
    std::string_view stateName; // what its answer is the state of, for programs: "power", "lamp_hours"...
};

namespace queries {
extern const StatusQuery kPower;    // STATUS
extern const StatusQuery kInput;    // MODE
extern const StatusQuery kLampTime; // L-TIME
extern const StatusQuery kReversal; // SETTING
} // namespace queries

// The fixed state names of a query's table, each once, in table order.
QStringList stateKeys(const StatusQuery& query);

// The query a frame asks, if it is one.
const StatusQuery* queryOfFrame(const QString& frame);
// The row of the query's table the RXD line matches, if any.
const StatusRow* matchingRow(const StatusQuery& query, const QString& rxdLine);

// The decode step: the status text for the RXD line when SendBuffer is a
// query frame and a row matches; nothing otherwise.
std::optional<QString> decodeStatus(const QString& sendBuffer, const QString& rxdLine);

} // namespace orvik
