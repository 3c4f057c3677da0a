#include "panel/projector_commands.h"

#include "panel/caption.h"
#include "panel/exchange_engine.h"
#include "panel/timer.h"

namespace orvik {
namespace {

using namespace std::chrono_literals;

constexpr std::uint8_t kZoomContext = 3; // after a D.Zoom release

// Periods a "+"/"-" or SELECT press writes: each frame's reply time-out and
// display clear end before the next repetition.
constexpr Millis kHeldReplyTimeout = 200ms;
constexpr Millis kHeldDisplayClear = 245ms;

// Periods an arrow press writes, by adjustment context.
constexpr Millis kMenuArrowReplyTimeout = 150ms;
constexpr Millis kMenuArrowDisplayClear = 190ms;
constexpr Millis kZoomArrowPeriod = 5ms; // repeat, time-out and clear alike

// Periods restored at every release.
constexpr Millis kReplyTimeout = 500ms;
constexpr Millis kDisplayClear = 1000ms;

} // namespace

ProjectorCommands::ProjectorCommands(ExchangeEngine& engine, Timers timers, Lines lines)
    : engine_(engine)
    , timers_(timers)
    , lines_(lines)
{
}

void ProjectorCommands::send(std::string_view code)
{
    FormState& state = engine_.state();
    state.SendBuffer = commandFrame(code);
    engine_.send(state.SendBuffer);
}

void ProjectorCommands::press(const HoldButton& button)
{
    FormState& state = engine_.state();
    if (button.kind == HoldKind::Arrow) {
        // The arrows write the exchange periods before they send.
        if (state.AdjustMode == kMenuContext) {
            timers_.replyTimeout.setInterval(kMenuArrowReplyTimeout);
            timers_.displayClear.setInterval(kMenuArrowDisplayClear);
        } else if (state.AdjustMode == kZoomContext) {
            timers_.replyTimeout.setInterval(kZoomArrowPeriod);
            timers_.displayClear.setInterval(kZoomArrowPeriod);
        }
        state.RepeatCode = button.repeatCode;
        send(button.code);
        timers_.repeat.setEnabled(true);
        return;
    }
    state.RepeatCode = button.repeatCode;
    send(button.code);
    timers_.repeat.setInterval(button.kind == HoldKind::Select ? kSelectRepeat : kAdjustRepeat);
    timers_.replyTimeout.setInterval(kHeldReplyTimeout);
    timers_.displayClear.setInterval(kHeldDisplayClear);
    timers_.repeat.setEnabled(true);
}

void ProjectorCommands::release(const HoldButton& button)
{
    FormState& state = engine_.state();
    state.RepeatCode = 0;
    timers_.repeat.setEnabled(false);
    timers_.replyTimeout.setEnabled(false);
    timers_.displayClear.setEnabled(true);
    lines_.txd.setCaption(QString());
    lines_.rxd.setCaption(QString());
    timers_.replyTimeout.setInterval(kReplyTimeout);
    timers_.displayClear.setInterval(kDisplayClear);
    state.ReceiveBuffer.clear();
    if (button.kind == HoldKind::Zoom) {
        timers_.repeat.setInterval(kZoomArrowPeriod);
        state.AdjustMode = kZoomContext;
    }
}

void ProjectorCommands::repeatTick()
{
    FormState& state = engine_.state();
    if (state.RepeatCode == 0)
        return;
    send(repeatedCode(state.RepeatCode));
    timers_.repeat.setEnabled(true);
}

} // namespace orvik
