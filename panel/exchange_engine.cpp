#include "panel/exchange_engine.h"

#include "panel/announcer.h"
#include "panel/caption.h"
#include "panel/mscomm.h"
#include "panel/timer.h"
#include "protocol/status_queries.h"
#include "protocol/traffic_rendering.h"

namespace orvik {

ExchangeEngine::ExchangeEngine(FormState& state, MSComm& comm, Timer& replyTimeout, Timer& displayClear, Lines lines,
                               QObject* parent)
    : QObject(parent)
    , state_(state)
    , comm_(comm)
    , replyTimeout_(replyTimeout)
    , displayClear_(displayClear)
    , lines_(lines)
{
    connect(&replyTimeout_, &Timer::tick, this, &ExchangeEngine::replyTimedOut);
    connect(&displayClear_, &Timer::tick, this, &ExchangeEngine::clearDisplay);
    connect(&comm_, &MSComm::OnComm, this, &ExchangeEngine::receive);
}

void ExchangeEngine::send(const QString& frame)
{
    // A closed port writes nothing and says nothing; the rest of the send
    // goes on, so the operator sees the frame and then " X X X X".
    comm_.setOutput(frame);
    lines_.txd.setCaption(renderTraffic(frame));
    announced_.clear();
    replyTimeout_.setEnabled(true);
    state_.ReplyPending = 1;
    displayClear_.setEnabled(true);
}

void ExchangeEngine::showReceived(const QString& text)
{
    lines_.rxd.setCaption(renderTraffic(text));
    if (decoder_) {
        if (const auto status = decoder_(state_.SendBuffer, lines_.rxd.caption())) {
            lines_.status.setCaption(*status);
            announce(status->trimmed());
        }
    }
}

void ExchangeEngine::receive()
{
    if (comm_.commEvent() != MSComm::kReceiveEvent)
        return;
    const QString arrived = comm_.input();
    const qsizetype room = kReceiveLimit - state_.ReceiveBuffer.size();
    if (room > 0)
        state_.ReceiveBuffer += QStringView(arrived).left(room);
    state_.ReplyPending = 0;
    showReceived(state_.ReceiveBuffer);
}

void ExchangeEngine::replyTimedOut()
{
    if (state_.ReplyPending == 1) {
        lines_.rxd.setCaption(QStringLiteral(" X X X X"));
        if (decoder_ && queryOfFrame(state_.SendBuffer))
            announce(QStringLiteral("no reply"));
    }
    replyTimeout_.setEnabled(false);
    state_.ReceiveBuffer.clear();
    state_.ReplyPending = 0;
}

void ExchangeEngine::announce(const QString& text)
{
    // Once: a reply that grows after it was decoded writes the same status again.
    if (!announcer_ || text.isEmpty() || text == announced_)
        return;
    announced_ = text;
    announcer_->announce(text);
}

void ExchangeEngine::clearDisplay()
{
    lines_.txd.setCaption(QString());
    lines_.rxd.setCaption(QString());
    lines_.status.setCaption(QString());
    displayClear_.setEnabled(false);
}

} // namespace orvik
