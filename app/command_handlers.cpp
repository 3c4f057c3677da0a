// The handlers of the command buttons, the exchange and the repeat timer,
// and the wiring of every control's event to its handler.
#include "app/form1.h"

#include "panel/exchange_engine.h"
#include "panel/projector_commands.h"
#include "panel/timer.h"
#include "protocol/status_queries.h"
#include "widgets/command_button.h"
#include "widgets/option_button.h"

namespace orvik {

void Form1::Hyouji(const QString& text, std::uint8_t mode)
{
    if (mode == 1)
        engine_->send(text);
    else
        engine_->showReceived(text);
}

void Form1::MSComm1_OnComm() { engine_->receive(); }
void Form1::Timer2_Timer() { engine_->replyTimedOut(); }
void Form1::Timer4_Timer() { engine_->clearDisplay(); }

void Form1::Command17_Click() { commands_->send(codes::kPowerOn); }
void Form1::Command18_Click() { commands_->send(codes::kPowerOff); }
void Form1::Command27_Click() { commands_->send(codes::kInputPc); }
void Form1::Command29_Click() { commands_->send(codes::kInputVideo); }
void Form1::Command19_Click() { commands_->send(codes::kAudioMuteOn); }
void Form1::Command20_Click() { commands_->send(codes::kAudioMuteOff); }
void Form1::Command21_Click() { commands_->send(codes::kVideoMuteOn); }
void Form1::Command22_Click() { commands_->send(codes::kVideoMuteOff); }
void Form1::Command31_Click() { commands_->send(codes::kScreenNormal); }
void Form1::Command32_Click() { commands_->send(codes::kScreenWide); }
void Form1::Command24_Click() { commands_->send(codes::kMenuOff); }
void Form1::Command25_Click() { commands_->send(codes::kFreezeOn); }
void Form1::Command26_Click() { commands_->send(codes::kFreezeOff); }
void Form1::Command14_Click() { commands_->send(codes::kPTimer); }
void Form1::Command4_Click() { commands_->send(codes::kNormal); }
void Form1::Command3_Click() { commands_->send(codes::kDisplayClear); }
void Form1::Command52_Click() { commands_->send(codes::kC01); }

// MENU ON and A-IMAGE also put the arrow pad into the menu context.
void Form1::Command23_Click()
{
    commands_->send(codes::kMenuOn);
    timer(1).setInterval(kMenuRepeat);
    state_.AdjustMode = kMenuContext;
}

void Form1::Command13_Click()
{
    commands_->send(codes::kAImage);
    timer(1).setInterval(kMenuRepeat);
    state_.AdjustMode = kMenuContext;
}

void Form1::Command44_Click() { commands_->send(queries::kPower.code); }
void Form1::Command45_Click() { commands_->send(queries::kInput.code); }
void Form1::Command46_Click() { commands_->send(queries::kLampTime.code); }
void Form1::Command47_Click() { commands_->send(queries::kReversal.code); }

void Form1::Command1_MouseDown(int, int, float, float) { commands_->press(holds::kVolUp); }
void Form1::Command1_MouseUp(int, int, float, float) { commands_->release(holds::kVolUp); }
void Form1::Command2_MouseDown(int, int, float, float) { commands_->press(holds::kVolDown); }
void Form1::Command2_MouseUp(int, int, float, float) { commands_->release(holds::kVolDown); }
void Form1::Command30_MouseDown(int, int, float, float) { commands_->press(holds::kBrightUp); }
void Form1::Command30_MouseUp(int, int, float, float) { commands_->release(holds::kBrightUp); }
void Form1::Command42_MouseDown(int, int, float, float) { commands_->press(holds::kBrightDown); }
void Form1::Command42_MouseUp(int, int, float, float) { commands_->release(holds::kBrightDown); }
void Form1::Command48_MouseDown(int, int, float, float) { commands_->press(holds::kZoomUp); }
void Form1::Command48_MouseUp(int, int, float, float) { commands_->release(holds::kZoomUp); }
void Form1::Command49_MouseDown(int, int, float, float) { commands_->press(holds::kZoomDown); }
void Form1::Command49_MouseUp(int, int, float, float) { commands_->release(holds::kZoomDown); }
void Form1::Command50_MouseDown(int, int, float, float) { commands_->press(holds::kKeystoneUp); }
void Form1::Command50_MouseUp(int, int, float, float) { commands_->release(holds::kKeystoneUp); }
void Form1::Command51_MouseDown(int, int, float, float) { commands_->press(holds::kKeystoneDown); }
void Form1::Command51_MouseUp(int, int, float, float) { commands_->release(holds::kKeystoneDown); }
void Form1::Command6_MouseDown(int, int, float, float) { commands_->press(holds::kSelect); }
void Form1::Command6_MouseUp(int, int, float, float) { commands_->release(holds::kSelect); }
void Form1::Command5_MouseDown(int, int, float, float) { commands_->press(holds::kUp); }
void Form1::Command5_MouseUp(int, int, float, float) { commands_->release(holds::kUp); }
void Form1::Command7_MouseDown(int, int, float, float) { commands_->press(holds::kDown); }
void Form1::Command7_MouseUp(int, int, float, float) { commands_->release(holds::kDown); }
void Form1::Command9_MouseDown(int, int, float, float) { commands_->press(holds::kLeft); }
void Form1::Command9_MouseUp(int, int, float, float) { commands_->release(holds::kLeft); }
void Form1::Command8_MouseDown(int, int, float, float) { commands_->press(holds::kRight); }
void Form1::Command8_MouseUp(int, int, float, float) { commands_->release(holds::kRight); }

void Form1::Timer1_Timer() { commands_->repeatTick(); }

void Form1::initActionsConnections()
{
    using Handler = void (Form1::*)();
    using MouseHandler = void (Form1::*)(int, int, float, float);
    struct Click {
        const char* control;
        Handler handler;
    };
    struct Hold {
        const char* control;
        MouseHandler down, up;
    };
    static constexpr Click kClicks[] = {
        {"Command17", &Form1::Command17_Click}, {"Command18", &Form1::Command18_Click},
        {"Command27", &Form1::Command27_Click}, {"Command29", &Form1::Command29_Click},
        {"Command19", &Form1::Command19_Click}, {"Command20", &Form1::Command20_Click},
        {"Command21", &Form1::Command21_Click}, {"Command22", &Form1::Command22_Click},
        {"Command31", &Form1::Command31_Click}, {"Command32", &Form1::Command32_Click},
        {"Command23", &Form1::Command23_Click}, {"Command24", &Form1::Command24_Click},
        {"Command25", &Form1::Command25_Click}, {"Command26", &Form1::Command26_Click},
        {"Command13", &Form1::Command13_Click}, {"Command14", &Form1::Command14_Click},
        {"Command4", &Form1::Command4_Click},   {"Command3", &Form1::Command3_Click},
        {"Command52", &Form1::Command52_Click}, {"Command44", &Form1::Command44_Click},
        {"Command45", &Form1::Command45_Click}, {"Command46", &Form1::Command46_Click},
        {"Command47", &Form1::Command47_Click}, {"Command16", &Form1::Command16_Click},
        {"Command33", &Form1::Command33_Click}, {"Command34", &Form1::Command34_Click},
    };
    static constexpr Hold kHolds[] = {
        {"Command1", &Form1::Command1_MouseDown, &Form1::Command1_MouseUp},
        {"Command2", &Form1::Command2_MouseDown, &Form1::Command2_MouseUp},
        {"Command30", &Form1::Command30_MouseDown, &Form1::Command30_MouseUp},
        {"Command42", &Form1::Command42_MouseDown, &Form1::Command42_MouseUp},
        {"Command48", &Form1::Command48_MouseDown, &Form1::Command48_MouseUp},
        {"Command49", &Form1::Command49_MouseDown, &Form1::Command49_MouseUp},
        {"Command50", &Form1::Command50_MouseDown, &Form1::Command50_MouseUp},
        {"Command51", &Form1::Command51_MouseDown, &Form1::Command51_MouseUp},
        {"Command6", &Form1::Command6_MouseDown, &Form1::Command6_MouseUp},
        {"Command5", &Form1::Command5_MouseDown, &Form1::Command5_MouseUp},
        {"Command7", &Form1::Command7_MouseDown, &Form1::Command7_MouseUp},
        {"Command9", &Form1::Command9_MouseDown, &Form1::Command9_MouseUp},
        {"Command8", &Form1::Command8_MouseDown, &Form1::Command8_MouseUp},
    };
    static constexpr Click kOptions[] = {
        {"Option1", &Form1::Option1_Click},
        {"Option2", &Form1::Option2_Click},
        {"Option3", &Form1::Option3_Click},
        {"Option4", &Form1::Option4_Click},
    };

    for (const Click& c : kClicks)
        connect(find<CommandButton>(c.control), &CommandButton::Click, this, c.handler);
    for (const Hold& h : kHolds) {
        auto* button = find<CommandButton>(h.control);
        connect(button, &CommandButton::MouseDown, this, h.down);
        connect(button, &CommandButton::MouseUp, this, h.up);
    }
    for (const Click& c : kOptions)
        connect(find<OptionButton>(c.control), &OptionButton::Click, this, c.handler);
    connect(&timer(1), &Timer::tick, this, &Form1::Timer1_Timer);
    connect(&timer(3), &Timer::tick, this, &Form1::Timer3_Timer);
    // Timer2, Timer4 and the receive event are the exchange engine's own.
}

} // namespace orvik
