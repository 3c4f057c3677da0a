#include "protocol/command_set.h"

#include <array>

namespace orvik {

QString commandFrame(std::string_view code)
{
    return QString::fromLatin1(code.data(), qsizetype(code.size())) + QChar(13);
}

std::chrono::milliseconds repeatPeriod(HoldKind kind)
{
    switch (kind) {
    case HoldKind::Adjust:
    case HoldKind::Zoom: return kAdjustRepeat;
    case HoldKind::Select: return kSelectRepeat;
    case HoldKind::Arrow: return kArrowRepeat;
    }
    return kArrowRepeat;
}

std::string_view repeatedCode(std::uint8_t repeatCode)
{
    using namespace holds;
    static constexpr std::array kRepeated = {kVolUp,    kVolDown,    kUp,          kDown,       kLeft,
                                             kRight,    kSelect,     kBrightUp,    kBrightDown, kZoomUp,
                                             kZoomDown, kKeystoneUp, kKeystoneDown};
    for (const HoldButton& hold : kRepeated)
        if (hold.repeatCode == repeatCode)
            return hold.code;
    return {};
}

} // namespace orvik
