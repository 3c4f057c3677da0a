#pragma once

#include "link/line_settings.h"

#include <QByteArray>

#include <array>
#include <bitset>
#include <cstdint>

namespace orvik::telnet {

// The Telnet bytes the serial link uses (RFC 854, 856, 2217).
enum : std::uint8_t {
    kSe = 240,
    kSb = 250,
    kWill = 251,
    kWont = 252,
    kDo = 253,
    kDont = 254,
    kIac = 255,
    kBinary = 0,
    kSuppressGoAhead = 3,
    kComPort = 44,
};

// Data for the line: every 0xFF doubled.
QByteArray escape(const QByteArray& data);

// The opening of an RFC 2217 session: binary mode both ways, the COM port
// option, and the line set to these settings, no flow control, DTR on and
// RTS off.
QByteArray opening(const LineSettings& settings);
// The commands that set the server's line to these settings.
QByteArray lineCommands(const LineSettings& settings);

// Splits what a server sends into line data and Telnet commands, in pieces
// of any size. Options it is offered are answered (binary, suppress go
// ahead and the COM port option are taken, all others refused, each answer
// given once); subnegotiations (the server's notifications) are skipped,
// however long; any other command is ignored.
class Decoder {
public:
    Decoder(); // as after opening(): those offers count as made
    // Returns the line data in `bytes`; answers to send back go to `reply`.
    QByteArray feed(const QByteArray& bytes, QByteArray* reply);

private:
    enum class State { Data, Command, Option, Sub, SubCommand };
    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    std::array<std::bitset<256>, 4> answered_; // WILL, WONT, DO, DONT sent, by option
    bool send(std::uint8_t verb, std::uint8_t option, QByteArray* reply);
};

} // namespace orvik::telnet
