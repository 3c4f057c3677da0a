#pragma once

#include <QString>

#include <cstdint>

namespace orvik {

// The window's six state fields.
struct FormState {
    std::uint8_t RepeatCode = 0;   // held button's repeat value; 0: none held
    std::uint8_t ReplyPending = 0; // 1 from a send until a receive event or the time-out
    std::uint8_t AdjustMode = 0;   // adjustment context of the arrow pad
    QString PortSettings;
    QString SendBuffer;    // the last frame sent
    QString ReceiveBuffer; // what has come in since the last time-out
};

} // namespace orvik
