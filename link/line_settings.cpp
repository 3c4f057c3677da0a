#include "link/line_settings.h"

#include <QList>

#include <algorithm>
#include <array>

namespace orvik {
namespace {

constexpr std::array kBaudRates = {110,   300,   600,   1200,  2400,  4800,   9600,   14400,
                                   19200, 28800, 38400, 56000, 57600, 115200, 128000, 256000};

std::optional<Parity> parityFrom(QStringView field)
{
    if (field.size() != 1)
        return std::nullopt;
    switch (field.front().toUpper().unicode()) {
    case 'N': return Parity::None;
    case 'E': return Parity::Even;
    case 'O': return Parity::Odd;
    case 'M': return Parity::Mark;
    case 'S': return Parity::Space;
    default: return std::nullopt;
    }
}

std::optional<StopBits> stopBitsFrom(QStringView field)
{
    if (field == u"1")
        return StopBits::One;
    if (field == u"1.5")
        return StopBits::OneAndHalf;
    if (field == u"2")
        return StopBits::Two;
    return std::nullopt;
}

std::optional<int> numberFrom(QStringView field)
{
    // Digits only: no sign, no blanks inside, no base prefixes.
    if (field.isEmpty() || field.size() > 6)
        return std::nullopt;
    int value = 0;
    for (QChar c : field) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

} // namespace

std::optional<LineSettings> parseLineSettings(QStringView text)
{
    const QList<QStringView> fields = text.split(u',');
    if (fields.size() != 4)
        return std::nullopt;
    const auto baud = numberFrom(fields[0].trimmed());
    const auto parity = parityFrom(fields[1].trimmed());
    const auto dataBits = numberFrom(fields[2].trimmed());
    const auto stopBits = stopBitsFrom(fields[3].trimmed());
    if (!baud || !parity || !dataBits || !stopBits)
        return std::nullopt;
    if (std::find(kBaudRates.begin(), kBaudRates.end(), *baud) == kBaudRates.end())
        return std::nullopt;
    if (*dataBits < 4 || *dataBits > 8)
        return std::nullopt;
    return LineSettings{*baud, *parity, *dataBits, *stopBits};
}

std::optional<LineSettings> panelSettingsAt(QStringView baud)
{
    if (baud != u"19200" && baud != u"9600")
        return std::nullopt;
    return parseLineSettings(baud.toString() + QStringLiteral(",N,8,1"));
}

QString formatLineSettings(const LineSettings& s)
{
    static constexpr std::array kParity = {u'N', u'E', u'O', u'M', u'S'};
    const QString stop = s.stopBits == StopBits::One          ? QStringLiteral("1")
                         : s.stopBits == StopBits::OneAndHalf ? QStringLiteral("1.5")
                                                              : QStringLiteral("2");
    return QStringLiteral("%1,%2,%3,%4")
        .arg(s.baud)
        .arg(QChar(kParity[static_cast<std::size_t>(s.parity)]))
        .arg(s.dataBits)
        .arg(stop);
}

} // namespace orvik
