#pragma once

#include "commands/command_set.h"

namespace orvik {

class Caption;
class ExchangeEngine;
class Timer;

// The handlers of the command buttons: one-shot clicks, status queries, and
// the press, release and repeat tick of the press-and-hold buttons.
class ProjectorCommands {
public:
    struct Timers {
        Timer& repeat;       // Timer1
        Timer& replyTimeout; // Timer2
        Timer& displayClear; // Timer4
    };
    struct Lines {
        Caption& txd;
        Caption& rxd;
    };

    ProjectorCommands(ExchangeEngine& engine, Timers timers, Lines lines);

    void click(const OneShotButton& button);
    void query(const StatusQuery& query);
    void press(const HoldButton& button);
    void release(const HoldButton& button);
    void Timer1_Timer();

private:
    void send(std::string_view code);

    ExchangeEngine& engine_;
    Timers timers_;
    Lines lines_;
};

} // namespace orvik
