#pragma once

#include "panel/twips.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace orvik::layout {

enum class Kind { Frame, Label, Button, Option };
enum class Align { Left, Right, Center };
enum class FontKey { F1, F2, F3, F4, F5, F6, F7 };

struct Font {
    bool fixedPitch; // the fixed-pitch Gothic cut, else the proportional one
    double points;
    bool bold;
};

struct Extra {
    std::optional<std::uint32_t> foreColor; // 0x00BBGGRR
    Align align = Align::Left;
    bool singleBorder = false;
    bool hidden = false;
    bool selected = false;
};

struct Control {
    std::string_view name;
    std::string_view container;
    Kind kind;
    const char* caption; // UTF-8
    int left, top, width, height;
    std::optional<std::uint32_t> backColor; // 0x00BBGGRR; none: the system's button face
    FontKey font;
    int tabIndex;
    Extra extra = {};
};

struct Line {
    std::string_view name;
    int x1, y1, x2, y2;
};

struct TimerSetup {
    std::string_view name;
    int intervalMs;
};

struct Window {
    const char* caption;
    std::uint32_t backColor;
    std::uint32_t foreColor;
    int clientWidth;
    int clientHeight;
    FontKey font;
    // The frame the layout was made with, around the client area.
    int frameSide = 45;
    int frameTop = 330;
    int frameBottom = 45;

    constexpr int outerWidth() const { return clientWidth + 2 * frameSide; }
    constexpr int outerHeight() const { return clientHeight + frameTop + frameBottom; }
};

inline constexpr Window kWindow{
    "ORVIK   QA3 & QB3 & QC3  CONTROL  Ver.1.30", 0x00C0C0C0, 0x00000000, 9450, 6825, FontKey::F7};

constexpr std::uint32_t kLineColor = 0x00FF8080;
constexpr int kLineWidth = 2;

Font font(FontKey key);
std::span<const Control> controls();
std::span<const Line> lines();
std::span<const TimerSetup> timers();

} // namespace orvik::layout
