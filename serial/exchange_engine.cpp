#include "serial/exchange_engine.h"

#include "serial/mscomm.h"
#include "serial/traffic_rendering.h"
#include "ui/caption.h"
#include "ui/timer.h"

namespace orvik {

ExchangeEngine::ExchangeEngine(FormState& state, MSComm& comm, Timer& timer2, Timer& timer4,
                               Lines lines, QObject* parent)
    : QObject(parent)
    , state_(state)
    , comm_(comm)
    , timer2_(timer2)
    , timer4_(timer4)
    , lines_(lines)
{
}

void ExchangeEngine::Hyouji(const QString& text, std::uint8_t mode)
{
    if (mode == 1) {
        // A closed port writes nothing and says nothing; the rest of the send
        // goes on, so the operator sees the frame and then " X X X X".
        comm_.setOutput(text);
        lines_.txd.setCaption(renderTraffic(text));
        timer2_.setEnabled(true);
        state_.ReplyPending = 1;
        timer4_.setEnabled(true);
        return;
    }
    lines_.rxd.setCaption(renderTraffic(text));
    if (decoder_) {
        if (const auto status = decoder_(state_.SendBuffer, lines_.rxd.caption()))
            lines_.status.setCaption(*status);
    }
}

void ExchangeEngine::MSComm1_OnComm()
{
    if (comm_.commEvent() != MSComm::kReceiveEvent)
        return;
    const QString arrived = comm_.input();
    const qsizetype room = kReceiveLimit - state_.ReceiveBuffer.size();
    if (room > 0)
        state_.ReceiveBuffer += QStringView(arrived).left(room);
    state_.ReplyPending = 0;
    Hyouji(state_.ReceiveBuffer, 2);
}

void ExchangeEngine::Timer2_Timer()
{
    if (state_.ReplyPending == 1)
        lines_.rxd.setCaption(QStringLiteral(" X X X X"));
    timer2_.setEnabled(false);
    state_.ReceiveBuffer.clear();
    state_.ReplyPending = 0;
}

void ExchangeEngine::Timer4_Timer()
{
    lines_.txd.setCaption(QString());
    lines_.rxd.setCaption(QString());
    lines_.status.setCaption(QString());
    timer4_.setEnabled(false);
}

} // namespace orvik
