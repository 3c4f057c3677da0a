#pragma once

#include <QColor>

#include <cstdint>

namespace orvik {

// Colours are written 0x00BBGGRR, red in the lowest byte.
constexpr QRgb bgrToRgb(std::uint32_t bgr)
{
    return qRgb(static_cast<int>(bgr & 0xFFu), static_cast<int>((bgr >> 8) & 0xFFu),
                static_cast<int>((bgr >> 16) & 0xFFu));
}

inline QColor bgrColor(std::uint32_t bgr) { return QColor(bgrToRgb(bgr)); }

} // namespace orvik
