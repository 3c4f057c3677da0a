#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <span>
#include <string_view>

namespace orvik {

// A command frame: the three-character code and one carriage return.
QString commandFrame(std::string_view code);

// The codes of the buttons that send one frame per click.
namespace codes {
inline constexpr std::string_view kPowerOn = "C00";
inline constexpr std::string_view kC01 = "C01";
inline constexpr std::string_view kPowerOff = "C02";
inline constexpr std::string_view kInputPc = "C05";
inline constexpr std::string_view kInputVideo = "C07";
inline constexpr std::string_view kAudioMuteOn = "C0B";
inline constexpr std::string_view kAudioMuteOff = "C0C";
inline constexpr std::string_view kVideoMuteOn = "C0D";
inline constexpr std::string_view kVideoMuteOff = "C0E";
inline constexpr std::string_view kScreenNormal = "C0F";
inline constexpr std::string_view kScreenWide = "C10";
inline constexpr std::string_view kMenuOn = "C1C";
inline constexpr std::string_view kMenuOff = "C1D";
inline constexpr std::string_view kDisplayClear = "C1E";
inline constexpr std::string_view kNormal = "C1F";
inline constexpr std::string_view kFreezeOn = "C43";
inline constexpr std::string_view kFreezeOff = "C44";
inline constexpr std::string_view kAImage = "C89";
inline constexpr std::string_view kPTimer = "C8A";
// The status queries: STATUS, MODE, L-TIME, SETTING.
inline constexpr std::string_view kStatus = "CR0";
inline constexpr std::string_view kMode = "CR1";
inline constexpr std::string_view kLampTime = "CR3";
inline constexpr std::string_view kSetting = "CR4";
} // namespace codes

// How a press-and-hold button sets the timers around its repetition.
enum class HoldKind {
    Adjust, // "+"/"-" of VOL, Bright, Keystone
    Zoom,   // "+"/"-" of D.Zoom: also sets the fast arrow context on release
    Select, // SELECT
    Arrow,  // the four arrows: periods by the adjustment context
};

// A button that sends its frame when pressed and again at every repeat tick
// while held; repeatCode names it while it repeats.
struct HoldButton {
    std::string_view code;
    std::uint8_t repeatCode;
    HoldKind kind;
};

namespace holds {
inline constexpr HoldButton kVolUp{"C09", 1, HoldKind::Adjust};
inline constexpr HoldButton kVolDown{"C0A", 2, HoldKind::Adjust};
inline constexpr HoldButton kUp{"C3C", 3, HoldKind::Arrow};
inline constexpr HoldButton kDown{"C3D", 4, HoldKind::Arrow};
inline constexpr HoldButton kLeft{"C3B", 5, HoldKind::Arrow};
inline constexpr HoldButton kRight{"C3A", 6, HoldKind::Arrow};
inline constexpr HoldButton kSelect{"C3F", 13, HoldKind::Select};
inline constexpr HoldButton kBrightUp{"C20", 15, HoldKind::Adjust};
inline constexpr HoldButton kBrightDown{"C21", 16, HoldKind::Adjust};
inline constexpr HoldButton kZoomUp{"C30", 17, HoldKind::Zoom};
inline constexpr HoldButton kZoomDown{"C31", 18, HoldKind::Zoom};
inline constexpr HoldButton kKeystoneUp{"C8E", 19, HoldKind::Adjust};
inline constexpr HoldButton kKeystoneDown{"C8F", 20, HoldKind::Adjust};
} // namespace holds

// Repeat periods a fresh panel holds each kind at: "+"/"-" and SELECT write
// theirs at the press; the arrows keep the design period until A-IMAGE, MENU
// ON or a D.Zoom release writes another.
inline constexpr std::chrono::milliseconds kAdjustRepeat{250};
inline constexpr std::chrono::milliseconds kSelectRepeat{500};
inline constexpr std::chrono::milliseconds kArrowRepeat{200};
std::chrono::milliseconds repeatPeriod(HoldKind kind);

// The code a repeat value stands for; empty for a value no button has.
std::string_view repeatedCode(std::uint8_t repeatCode);

} // namespace orvik
