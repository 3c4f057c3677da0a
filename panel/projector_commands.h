#pragma once

#include "core/clock.h"
#include "protocol/command_set.h"

#include <cstdint>

namespace orvik {

class Caption;
class ExchangeEngine;
class Timer;

// Adjustment context of the arrow pad after A-IMAGE or MENU ON, and the
// repeat period those two write.
inline constexpr std::uint8_t kMenuContext = 1;
inline constexpr Millis kMenuRepeat{200};

// What the command buttons do: send a frame, and the press, release and
// repeat tick of the press-and-hold buttons.
class ProjectorCommands {
public:
    struct Timers {
        Timer& repeat;
        Timer& replyTimeout;
        Timer& displayClear;
    };
    struct Lines {
        Caption& txd;
        Caption& rxd;
    };

    ProjectorCommands(ExchangeEngine& engine, Timers timers, Lines lines);

    // SendBuffer gets the code's frame, and the engine sends it.
    void send(std::string_view code);
    void press(const HoldButton& button);
    void release(const HoldButton& button);
    void repeatTick();

private:
    ExchangeEngine& engine_;
    Timers timers_;
    Lines lines_;
};

} // namespace orvik
