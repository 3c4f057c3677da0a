#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace orvik {

enum class Parity { None, Even, Odd, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };

// The four fields of a settings string such as "19200,N,8,1".
struct LineSettings {
    int baud = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// Parses "baud,parity,data,stop". Blanks around a field are allowed; the
// parity letter may be either case. Anything else gives nothing.
std::optional<LineSettings> parseLineSettings(QStringView text);
QString formatLineSettings(const LineSettings& settings);
// The panel's two settings, "19200,N,8,1" and "9600,N,8,1", by their speed;
// nothing for any other.
std::optional<LineSettings> panelSettingsAt(QStringView baud);

} // namespace orvik
