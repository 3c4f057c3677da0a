#include "commands/command_set.h"

#include <array>

namespace orvik {
namespace {

constexpr std::array kOneShots = {
    OneShotButton{"Command17", "C00"}, // POWER ON
    OneShotButton{"Command18", "C02"}, // POWER OFF
    OneShotButton{"Command27", "C05"}, // INPUT SELECT PC
    OneShotButton{"Command29", "C07"}, // INPUT SELECT Video
    OneShotButton{"Command19", "C0B"}, // AUDIO MUTE ON
    OneShotButton{"Command20", "C0C"}, // AUDIO MUTE OFF
    OneShotButton{"Command21", "C0D"}, // VIDEO MUTE ON
    OneShotButton{"Command22", "C0E"}, // VIDEO MUTE OFF
    OneShotButton{"Command31", "C0F"}, // VIDEO SCREEN Normal
    OneShotButton{"Command32", "C10"}, // VIDEO SCREEN Wide
    OneShotButton{"Command23", "C1C", true}, // MENU ON
    OneShotButton{"Command24", "C1D"},       // MENU OFF
    OneShotButton{"Command25", "C43"},       // FREEZE ON
    OneShotButton{"Command26", "C44"},       // FREEZE OFF
    OneShotButton{"Command13", "C89", true}, // A-IMAGE
    OneShotButton{"Command14", "C8A"},       // P-TIMER
    OneShotButton{"Command4", "C1F"},        // NORMAL
    OneShotButton{"Command3", "C1E"},        // DISPLAY CLEAR
    OneShotButton{"Command52", "C01"},       // C01
};

constexpr std::array kHolds = {
    HoldButton{"Command1", "C09", 1, HoldKind::Adjust},   // VOL +
    HoldButton{"Command2", "C0A", 2, HoldKind::Adjust},   // VOL -
    HoldButton{"Command30", "C20", 15, HoldKind::Adjust}, // Bright +
    HoldButton{"Command42", "C21", 16, HoldKind::Adjust}, // Bright -
    HoldButton{"Command48", "C30", 17, HoldKind::Zoom},   // D.Zoom +
    HoldButton{"Command49", "C31", 18, HoldKind::Zoom},   // D.Zoom -
    HoldButton{"Command50", "C8E", 19, HoldKind::Adjust}, // Keystone +
    HoldButton{"Command51", "C8F", 20, HoldKind::Adjust}, // Keystone -
    HoldButton{"Command6", "C3F", 13, HoldKind::Select},  // SELECT
    HoldButton{"Command5", "C3C", 3, HoldKind::Arrow},    // up
    HoldButton{"Command7", "C3D", 4, HoldKind::Arrow},    // down
    HoldButton{"Command9", "C3B", 5, HoldKind::Arrow},    // left
    HoldButton{"Command8", "C3A", 6, HoldKind::Arrow},    // right
};

constexpr std::array kQueries = {
    StatusQuery{"Command44", "CR0"}, // STATUS
    StatusQuery{"Command45", "CR1"}, // MODE
    StatusQuery{"Command46", "CR3"}, // L-TIME
    StatusQuery{"Command47", "CR4"}, // SETTING
};

} // namespace

QString commandFrame(std::string_view code)
{
    return QString::fromLatin1(code.data(), qsizetype(code.size())) + QChar(13);
}

std::span<const OneShotButton> oneShotButtons() { return kOneShots; }
std::span<const HoldButton> holdButtons() { return kHolds; }
std::span<const StatusQuery> statusQueries() { return kQueries; }

std::string_view repeatedCode(std::uint8_t repeatCode)
{
    for (const HoldButton& hold : kHolds)
        if (hold.repeatCode == repeatCode)
            return hold.code;
    return {};
}

} // namespace orvik
