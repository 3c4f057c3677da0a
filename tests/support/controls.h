#pragma once

// The controls the tests work, by what they are on the panel.
namespace orvik::test {

// One-shot buttons.
inline constexpr const char* kPowerOn = "Command17";
inline constexpr const char* kPowerOff = "Command18";
inline constexpr const char* kInputPc = "Command27";
inline constexpr const char* kInputVideo = "Command29";
inline constexpr const char* kMenuOn = "Command23";
inline constexpr const char* kMenuOff = "Command24";
inline constexpr const char* kFreezeOn = "Command25";
inline constexpr const char* kAImage = "Command13";
inline constexpr const char* kDisplayClear = "Command3";
inline constexpr const char* kC01 = "Command52";

// Status queries.
inline constexpr const char* kStatusQuery = "Command44";
inline constexpr const char* kModeQuery = "Command45";
inline constexpr const char* kLampTimeQuery = "Command46";
inline constexpr const char* kSettingQuery = "Command47";

// Press-and-hold buttons.
inline constexpr const char* kVolUp = "Command1";
inline constexpr const char* kVolDown = "Command2";
inline constexpr const char* kBrightUp = "Command30";
inline constexpr const char* kBrightDown = "Command42";
inline constexpr const char* kZoomUp = "Command48";
inline constexpr const char* kZoomDown = "Command49";
inline constexpr const char* kKeystoneUp = "Command50";
inline constexpr const char* kKeystoneDown = "Command51";
inline constexpr const char* kSelect = "Command6";
inline constexpr const char* kUp = "Command5";
inline constexpr const char* kDown = "Command7";
inline constexpr const char* kLeft = "Command9";
inline constexpr const char* kRight = "Command8";
inline constexpr const char* kHoldButtons[] = {kVolUp,    kVolDown,    kBrightUp,     kBrightDown, kZoomUp,
                                               kZoomDown, kKeystoneUp, kKeystoneDown, kSelect,     kUp,
                                               kDown,     kLeft,       kRight};

// Port, speed, END and the data panel.
inline constexpr const char* kComButton = "Command33";
inline constexpr const char* kEnd = "Command16";
inline constexpr const char* kDataToggle = "Command34";
inline constexpr const char* kPortFrame = "Frame8";
inline constexpr const char* kCom1 = "Option1";
inline constexpr const char* kCom2 = "Option2";
inline constexpr const char* kBaud19200 = "Option3";
inline constexpr const char* kBaud9600 = "Option4";

// The display lines.
inline constexpr const char* kTxdLine = "Label11";
inline constexpr const char* kRxdLine = "Label12";
inline constexpr const char* kStatusLine = "Label25";

} // namespace orvik::test
