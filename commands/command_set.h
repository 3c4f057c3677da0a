#pragma once

#include <QString>

#include <cstdint>
#include <span>
#include <string_view>

namespace orvik {

// A command frame: the three-character code and one carriage return.
QString commandFrame(std::string_view code);

// A button that sends one frame per click. Two of them also set the
// adjustment context of the arrow pad.
struct OneShotButton {
    std::string_view control;
    std::string_view code;
    bool setsAdjustContext = false;
};

// How a press-and-hold button sets the timers around its repetition.
enum class HoldKind {
    Adjust, // "+"/"-" of VOL, Bright, Keystone
    Zoom,   // "+"/"-" of D.Zoom: also sets the fast arrow context on release
    Select, // SELECT
    Arrow,  // the four arrows: periods by the adjustment context
};

struct HoldButton {
    std::string_view control;
    std::string_view code;
    std::uint8_t repeatCode;
    HoldKind kind;
};

// A status query, sent like a one-shot button; its reply is decoded.
struct StatusQuery {
    std::string_view control;
    std::string_view code;
};

std::span<const OneShotButton> oneShotButtons();
std::span<const HoldButton> holdButtons();
std::span<const StatusQuery> statusQueries();

// The code a repeat value stands for; empty for a value no button has.
std::string_view repeatedCode(std::uint8_t repeatCode);

} // namespace orvik
