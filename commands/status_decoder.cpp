#include "commands/status_decoder.h"

#include "commands/command_set.h"

#include <array>
#include <span>

namespace orvik {
namespace {

struct Row {
    const char16_t* key;
    const char16_t* text;
};

constexpr std::array kPower = {
    Row{u" 0 0", u" Power ON"},
    Row{u" 8 0", u" Stand by"},
    Row{u" 4 0", u" Count down"},
    Row{u" 2 0", u" Cooling down"},
    Row{u" 1 0", u" Power abnormality"},
    Row{u" 8 8", u" Temperature abnormality"},
    Row{u" 2 8", u" Temperature abnormality"},
    Row{u" 0 2", u" Key input prohibition"},
};

constexpr std::array kInput = {
    Row{u" 1", u" Computer"},
    Row{u" 3", u" Video"},
};

constexpr std::array kReversal = {
    Row{u" 1 1", u" Normally"},
    Row{u" 1 0", u" Top/Bottom reversal"},
    Row{u" 0 1", u" Left/Right reversal"},
    Row{u" 0 0", u" Top/Bottom , Left/Right reversal"},
};

std::optional<QString> lookUp(const QString& rxdLine, qsizetype examined, std::span<const Row> table)
{
    const QStringView prefix = QStringView(rxdLine).left(examined);
    std::optional<QString> text;
    for (const Row& row : table)
        if (prefix == QStringView(row.key))
            text = QString::fromUtf16(row.text);
    return text;
}

} // namespace

std::optional<QString> decodeStatus(const QString& sendBuffer, const QString& rxdLine)
{
    if (sendBuffer == commandFrame("CR0"))
        return lookUp(rxdLine, 4, kPower);
    if (sendBuffer == commandFrame("CR1"))
        return lookUp(rxdLine, 2, kInput);
    if (sendBuffer == commandFrame("CR4"))
        return lookUp(rxdLine, 4, kReversal);
    if (sendBuffer == commandFrame("CR3"))
        return rxdLine.left(8) + QStringLiteral(" Hour Use");
    return std::nullopt;
}

} // namespace orvik
