#pragma once

#include "serial/form_state.h"

#include <QObject>

#include <functional>
#include <optional>

namespace orvik {

class Caption;
class MSComm;
class Timer;

// The one road of a frame to the line and of a reply to the panel: Hyouji,
// the receive handler, the reply time-out (Timer2) and the display clear
// (Timer4).
class ExchangeEngine : public QObject {
    Q_OBJECT
public:
    // Most characters ReceiveBuffer holds, the serial control's receive
    // buffer size. Later characters are dropped until the buffer is emptied.
    static constexpr qsizetype kReceiveLimit = 1024;

    struct Lines {
        Caption& txd;    // Label11
        Caption& rxd;    // Label12
        Caption& status; // Label25
    };
    // The decode step: given SendBuffer and the RXD line, the status text to
    // show, if any.
    using Decoder = std::function<std::optional<QString>(const QString& sendBuffer,
                                                         const QString& rxdLine)>;

    ExchangeEngine(FormState& state, MSComm& comm, Timer& timer2, Timer& timer4, Lines lines,
                   QObject* parent = nullptr);

    void setDecoder(Decoder decoder) { decoder_ = std::move(decoder); }

    // Mode 1 sends the text and shows it on the TXD line; any other mode
    // shows it on the RXD line and runs the decode step.
    void Hyouji(const QString& text, std::uint8_t mode);
    void MSComm1_OnComm();
    void Timer2_Timer();
    void Timer4_Timer();

    FormState& state() { return state_; }

private:
    FormState& state_;
    MSComm& comm_;
    Timer& timer2_;
    Timer& timer4_;
    Lines lines_;
    Decoder decoder_;
};

} // namespace orvik
