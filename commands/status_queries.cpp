#include "commands/status_queries.h"

#include "commands/command_set.h"

#include <array>

namespace orvik {
namespace {

constexpr std::array kPowerRows = {
    StatusRow{u" 0 0", u" Power ON"},
    StatusRow{u" 8 0", u" Stand by"},
    StatusRow{u" 4 0", u" Count down"},
    StatusRow{u" 2 0", u" Cooling down"},
    StatusRow{u" 1 0", u" Power abnormality"},
    StatusRow{u" 8 8", u" Temperature abnormality"},
    StatusRow{u" 2 8", u" Temperature abnormality"},
    StatusRow{u" 0 2", u" Key input prohibition"},
};

constexpr std::array kInputRows = {
    StatusRow{u" 1", u" Computer"},
    StatusRow{u" 3", u" Video"},
};

constexpr std::array kReversalRows = {
    StatusRow{u" 1 1", u" Normally"},
    StatusRow{u" 1 0", u" Top/Bottom reversal"},
    StatusRow{u" 0 1", u" Left/Right reversal"},
    StatusRow{u" 0 0", u" Top/Bottom , Left/Right reversal"},
};

QStringView view(std::u16string_view text) { return QStringView(text.data(), qsizetype(text.size())); }

} // namespace

namespace queries {
const StatusQuery kPower{"CR0", 4, kPowerRows};
const StatusQuery kInput{"CR1", 2, kInputRows};
const StatusQuery kLampTime{"CR3", 8, {}};
const StatusQuery kReversal{"CR4", 4, kReversalRows};
} // namespace queries

std::optional<QString> decodeStatus(const QString& sendBuffer, const QString& rxdLine)
{
    for (const StatusQuery* query : {&queries::kPower, &queries::kInput, &queries::kReversal, &queries::kLampTime}) {
        if (sendBuffer != commandFrame(query->code))
            continue;
        const QStringView prefix = QStringView(rxdLine).left(query->examined);
        if (query->table.empty())
            return prefix.toString() + QStringLiteral(" Hour Use");
        std::optional<QString> text;
        for (const StatusRow& row : query->table) // every row is tested
            if (prefix == view(row.key))
                text = view(row.text).toString();
        return text;
    }
    return std::nullopt;
}

} // namespace orvik
