#pragma once

#include "panel/form_state.h"

#include <QObject>

#include <functional>
#include <optional>

namespace orvik {

class Announcer;
class Caption;
class MSComm;
class Timer;

// The one road of a frame to the line and of a reply to the panel: sending,
// receiving, the reply time-out and the display clear. It runs on its own
// timers and the serial control's receive event.
class ExchangeEngine : public QObject {
    Q_OBJECT
public:
    // Most characters ReceiveBuffer holds, the serial control's receive
    // buffer size. Later characters are dropped until the buffer is emptied.
    static constexpr qsizetype kReceiveLimit = 1024;

    struct Lines {
        Caption& txd;
        Caption& rxd;
        Caption& status;
    };
    // The decode step: given SendBuffer and the RXD line, the status text to
    // show, if any.
    using Decoder = std::function<std::optional<QString>(const QString& sendBuffer, const QString& rxdLine)>;

    ExchangeEngine(FormState& state, MSComm& comm, Timer& replyTimeout, Timer& displayClear, Lines lines,
                   QObject* parent = nullptr);

    void setDecoder(Decoder decoder) { decoder_ = std::move(decoder); }
    // Where each decoded status is announced once, and a status query left
    // without a reply as "no reply". None by default.
    void setAnnouncer(Announcer* announcer) { announcer_ = announcer; }

    // Writes the frame, shows it on the TXD line and starts both timers.
    void send(const QString& frame);
    // Shows the text on the RXD line and runs the decode step.
    void showReceived(const QString& text);
    // The receive event: appends what arrived to ReceiveBuffer and shows it.
    void receive();
    void replyTimedOut();
    void clearDisplay();

    FormState& state() { return state_; }

private:
    void announce(const QString& text);

    FormState& state_;
    MSComm& comm_;
    Timer& replyTimeout_;
    Timer& displayClear_;
    Lines lines_;
    Decoder decoder_;
    Announcer* announcer_ = nullptr;
    QString announced_; // since the last frame sent
};

} // namespace orvik
