#include "app/layout.h"

#include <array>

namespace orvik::layout {
namespace {

using enum Kind;
using enum FontKey;

constexpr std::uint32_t kGrey = 0x00C0C0C0;
constexpr std::uint32_t kLightGreen = 0x00C0FFC0;
constexpr std::uint32_t kPink = 0x00C0C0FF;
constexpr std::uint32_t kLightCyan = 0x00FFFFC0;
constexpr std::uint32_t kLightBlue = 0x00FFC0C0;
constexpr std::uint32_t kPeach = 0x00C0E0FF;
constexpr std::uint32_t kWhite = 0x00FFFFFF;

constexpr Extra kCentred{.align = Align::Center};
constexpr Extra kRight{.align = Align::Right};

// Containers come before what they hold; later controls lie above earlier
// ones where they overlap (Frame8 over the COM button).
constexpr std::array kControls = {
    // Top row: POWER, INPUT SELECT, MENU.
    Control{"Frame1", "Form1", Frame, "", 240, 120, 2172, 972, kGrey, F5, 0, {.foreColor = 0x00808080}},
    Control{"Label1",
            "Frame1",
            Label,
            "POWER",
            285,
            240,
            1545,
            330,
            kGrey,
            F1,
            2,
            {.foreColor = 0x000000C0, .align = Align::Center}},
    Control{"Command17", "Frame1", Button, "ON", 240, 600, 735, 300, kLightGreen, F1, 1},
    Control{"Command18", "Frame1", Button, "OFF", 1200, 600, 735, 300, kPink, F1, 28},
    Control{"Frame2", "Form1", Frame, "", 2640, 120, 2532, 972, kGrey, F5, 3},
    Control{"Label2", "Frame2", Label, "INPUT SELECT", 315, 240, 1980, 330, kGrey, F1, 4, kCentred},
    Control{"Command27", "Frame2", Button, "PC", 240, 600, 855, 300, kLightCyan, F1, 37},
    Control{"Command29", "Frame2", Button, "Video", 1320, 600, 975, 300, kLightCyan, F1, 38},
    Control{"Frame6", "Form1", Frame, "", 5400, 120, 2292, 972, kGrey, F5, 14},
    Control{"Label7", "Frame6", Label, "MENU", 270, 240, 1755, 315, kGrey, F1, 15, kCentred},
    Control{"Command23", "Frame6", Button, "ON", 240, 600, 735, 300, kLightGreen, F1, 33},
    Control{"Command24", "Frame6", Button, "OFF", 1320, 600, 735, 300, kPink, F1, 34},

    // Second row: AUDIO MUTE, VIDEO MUTE, FREEZE, VIDEO  SCREEN.
    Control{"Frame3", "Form1", Frame, "", 240, 1200, 2055, 972, kGrey, F5, 8},
    Control{"Label4", "Frame3", Label, "AUDIO MUTE", 120, 240, 1695, 345, kGrey, F1, 9, kCentred},
    Control{"Command19", "Frame3", Button, "ON", 120, 600, 735, 300, kLightGreen, F1, 29},
    Control{"Command20", "Frame3", Button, "OFF", 1080, 600, 735, 300, kPink, F1, 30},
    Control{"Frame4", "Form1", Frame, "", 2640, 1200, 1815, 972, kGrey, F5, 10},
    Control{"Label5", "Frame4", Label, "VIDEO MUTE", 120, 240, 1575, 345, kGrey, F1, 11, kCentred},
    Control{"Command21", "Frame4", Button, "ON", 120, 600, 735, 300, kLightGreen, F1, 31},
    Control{"Command22", "Frame4", Button, "OFF", 960, 600, 735, 300, kPink, F1, 32},
    Control{"Frame7", "Form1", Frame, "", 4815, 1200, 2055, 972, kGrey, F5, 23},
    Control{"Label8", "Frame7", Label, "FREEZE", 240, 240, 1575, 330, kGrey, F1, 24, kCentred},
    Control{"Command25", "Frame7", Button, "ON", 240, 600, 735, 300, kLightGreen, F1, 35},
    Control{"Command26", "Frame7", Button, "OFF", 1080, 600, 735, 300, kPink, F1, 36},
    Control{"Frame5", "Form1", Frame, "", 7080, 1200, 2175, 972, kGrey, F5, 12},
    Control{"Label6", "Frame5", Label, "VIDEO  SCREEN", 120, 240, 1905, 330, kGrey, F1, 13, kCentred},
    Control{"Command31", "Frame5", Button, "Normal", 120, 600, 975, 300, kLightCyan, F2, 39},
    Control{"Command32", "Frame5", Button, "Wide", 1200, 600, 855, 300, kLightCyan, F2, 40},

    // Arrow pad.
    Control{"Command5", "Form1", Button, "\u2191", 1200, 2520, 855, 375, kPeach, F4, 18},
    Control{"Command9", "Form1", Button, "\u2190", 240, 3000, 855, 375, kPeach, F4, 22},
    Control{"Command6", "Form1", Button, "SELECT", 1200, 3000, 855, 375, 0x000080FF, F2, 19},
    Control{"Command8", "Form1", Button, "\u2192", 2160, 3000, 855, 375, kPeach, F4, 21},
    Control{"Command7", "Form1", Button, "\u2193", 1200, 3480, 855, 375, kPeach, F4, 20},

    // Adjustment pairs.
    Control{"Label3", "Form1", Label, "VOL", 3720, 2520, 615, 255, kGrey, F1, 7, kCentred},
    Control{"Command1", "Form1", Button, "+", 3840, 2880, 375, 255, 0x0080C0FF, F4, 5},
    Control{"Command2", "Form1", Button, "-", 3840, 3240, 375, 255, 0x0080C0FF, F4, 6},
    Control{"Label16", "Form1", Label, "Bright", 4440, 2520, 975, 270, kGrey, F2, 56, kCentred},
    Control{"Command30", "Form1", Button, "+", 4680, 2880, 375, 255, kLightCyan, F5, 54},
    Control{"Command42", "Form1", Button, "-", 4680, 3240, 375, 255, kLightCyan, F5, 55},
    Control{"Label17", "Form1", Label, "D.Zoom", 5535, 2520, 945, 300, kGrey, F2, 59, kCentred},
    Control{"Command48", "Form1", Button, "+", 5760, 2880, 375, 255, kLightCyan, F5, 57},
    Control{"Command49", "Form1", Button, "-", 5760, 3240, 375, 255, kLightCyan, F5, 58},
    Control{"Label18", "Form1", Label, "Keystone", 6480, 2505, 1215, 315, kGrey, F2, 62, kCentred},
    Control{"Command50", "Form1", Button, "+", 6840, 2880, 375, 255, kLightCyan, F5, 60},
    Control{"Command51", "Form1", Button, "-", 6840, 3240, 375, 255, kLightCyan, F5, 61},

    // Right-hand column (Image1 is built apart: it is a picture).
    Control{"Command13", "Form1", Button, "A-IMAGE", 8160, 2760, 1095, 250, 0x00C0C000, F2, 25},
    Control{"Command14", "Form1", Button, "P-TIMER", 8160, 3120, 1095, 250, kLightBlue, F2, 26},
    Control{"Command4", "Form1", Button, "NORMAL", 8160, 3360, 1095, 250, kLightBlue, F2, 17},
    Control{"Command3", "Form1", Button, "DISPLAY CLEAR", 8160, 3600, 1095, 492, kLightBlue, F2, 16},
    Control{"Command16", "Form1", Button, "END", 8280, 4320, 975, 375, kGrey, F1, 27},

    // Port selection.
    Control{"Command33", "Form1", Button, "COM", 4080, 4200, 1815, 375, std::nullopt, F5, 41},
    Control{"Frame8", "Form1", Frame, "", 3480, 3600, 2775, 1185, kGrey, F5, 42, {.hidden = true}},
    Control{"Option1", "Frame8", Option, "COM1", 210, 180, 1185, 315, kGrey, F1, 43},
    Control{"Option2", "Frame8", Option, "COM2", 1545, 210, 1095, 300, kGrey, F1, 70},
    Control{"Frame10", "Frame8", Frame, "", 135, 510, 2535, 615, kGrey, F7, 67},
    Control{"Option3", "Frame10", Option, "19200", 90, 195, 1125, 360, kGrey, F1, 68, {.selected = true}},
    Control{"Option4", "Frame10", Option, "9600", 1380, 180, 1065, 360, kGrey, F1, 69},

    // The hidden data panel.
    Control{"Frame9", "Form1", Frame, "", 120, 4920, 6375, 1068, kGrey, F5, 44},
    Control{"Label9", "Frame9", Label, "TXD", 90, 240, 555, 285, kGrey, F2, 45, kRight},
    Control{"Label10", "Frame9", Label, "RXD", 120, 600, 540, 330, kGrey, F2, 46, kRight},
    Control{"Label11", "Frame9", Label, "", 720, 195, 5535, 300, kWhite, F6, 47, {.singleBorder = true}},
    Control{"Label12", "Frame9", Label, "", 720, 600, 5535, 300, kWhite, F6, 48, {.singleBorder = true}},
    Control{"Command34", "Form1", Button, "データを表示する", 8040, 4920, 1212, 375, kGrey, F2, 49, {.hidden = true}},
    Control{"Command44", "Form1", Button, "STATUS", 6720, 5640, 1095, 255, kLightCyan, F3, 50},
    Control{"Command45", "Form1", Button, "MODE", 6720, 5880, 1095, 255, kLightCyan, F3, 51},
    Control{"Command46", "Form1", Button, "L-TIME", 7800, 5640, 1095, 255, kLightCyan, F3, 52},
    Control{"Command47", "Form1", Button, "SETTING", 7800, 5880, 1095, 255, kLightCyan, F3, 53},
    Control{"Frame15", "Form1", Frame, "", 720, 6000, 5775, 492, kGrey, F7, 64},
    Control{"Label26", "Frame15", Label, "STATUS", 120, 165, 810, 255, kGrey, F2, 66},
    Control{"Label25",
            "Frame15",
            Label,
            "",
            1080,
            120,
            4575,
            300,
            kWhite,
            F4,
            65,
            {.foreColor = 0x000000FF, .singleBorder = true}},
    Control{"Command52", "Form1", Button, "C01", 120, 6120, 585, 255, kPink, F2, 63},
};

// The outline of a plus sign around the arrow pad.
constexpr std::array kLines = {
    Line{"Line1", 1080, 2400, 1080, 2880},  Line{"Line2", 2160, 2400, 2160, 2880},
    Line{"Line3", 3120, 2880, 3120, 3480},  Line{"Line4", 2160, 3480, 2160, 3960},
    Line{"Line5", 1080, 3480, 1080, 3960},  Line{"Line6", 120, 2880, 120, 3480},
    Line{"Line7", 1080, 2400, 2160, 2400},  Line{"Line8", 120, 2880, 1080, 2880},
    Line{"Line9", 2160, 2880, 3120, 2880},  Line{"Line10", 120, 3480, 1080, 3480},
    Line{"Line11", 1080, 3960, 2160, 3960}, Line{"Line12", 2160, 3480, 3120, 3480},
};

constexpr std::array kTimers = {
    TimerSetup{"Timer1", 200},  // press-and-hold repeat
    TimerSetup{"Timer2", 500},  // reply time-out
    TimerSetup{"Timer3", 5000}, // hides the port-settings frame
    TimerSetup{"Timer4", 1000}, // display clear
};

} // namespace

Font font(FontKey key)
{
    switch (key) {
    case F1: return {true, 9, true};
    case F2: return {true, 9, false};
    case F3: return {true, 8.25, true};
    case F4: return {false, 9, true};
    case F5: return {false, 9, false};
    case F6: return {false, 9.75, true};
    case F7: return {false, 7.5, false};
    }
    return {false, 7.5, false};
}

std::span<const Control> controls() { return kControls; }
std::span<const Line> lines() { return kLines; }
std::span<const TimerSetup> timers() { return kTimers; }

} // namespace orvik::layout
