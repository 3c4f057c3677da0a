#include "link/telnet.h"

namespace orvik::telnet {
namespace {

// RFC 2217 client-to-server command codes and values.
enum : std::uint8_t {
    kSetBaudRate = 1,
    kSetDataSize = 2,
    kSetParity = 3,
    kSetStopSize = 4,
    kSetControl = 5,
};
enum : std::uint8_t {
    kNoFlowControl = 1,
    kDtrOn = 8,
    kRtsOff = 12,
};

void command(QByteArray& out, std::uint8_t code, const QByteArray& value)
{
    out += char(kIac);
    out += char(kSb);
    out += char(kComPort);
    out += char(code);
    out += escape(value);
    out += char(kIac);
    out += char(kSe);
}

QByteArray byte(int value) { return QByteArray(1, char(value)); }

bool wanted(std::uint8_t option) { return option == kBinary || option == kSuppressGoAhead || option == kComPort; }

} // namespace

QByteArray escape(const QByteArray& data)
{
    if (!data.contains(char(kIac)))
        return data;
    QByteArray out;
    out.reserve(data.size() * 2);
    for (const char c : data) {
        out += c;
        if (std::uint8_t(c) == kIac)
            out += c;
    }
    return out;
}

QByteArray lineCommands(const LineSettings& s)
{
    QByteArray out;
    const auto baud = std::uint32_t(s.baud);
    const char bigEndian[] = {char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)};
    command(out, kSetBaudRate, QByteArray(bigEndian, sizeof bigEndian));
    command(out, kSetDataSize, byte(s.dataBits));
    // RFC 2217 numbers parity NONE 1, ODD 2, EVEN 3, MARK 4, SPACE 5.
    const int parity = s.parity == Parity::None   ? 1
                       : s.parity == Parity::Odd  ? 2
                       : s.parity == Parity::Even ? 3
                       : s.parity == Parity::Mark ? 4
                                                  : 5;
    command(out, kSetParity, byte(parity));
    command(out, kSetStopSize, byte(s.stopBits == StopBits::One ? 1 : s.stopBits == StopBits::Two ? 2 : 3));
    command(out, kSetControl, byte(kNoFlowControl));
    command(out, kSetControl, byte(kDtrOn));
    command(out, kSetControl, byte(kRtsOff));
    return out;
}

QByteArray opening(const LineSettings& settings)
{
    QByteArray out;
    for (const std::uint8_t option : {kBinary, kSuppressGoAhead, kComPort}) {
        out += char(kIac);
        out += char(kWill);
        out += char(option);
    }
    for (const std::uint8_t option : {kBinary, kSuppressGoAhead}) {
        out += char(kIac);
        out += char(kDo);
        out += char(option);
    }
    return out + lineCommands(settings);
}

Decoder::Decoder()
{
    for (const std::uint8_t option : {kBinary, kSuppressGoAhead, kComPort})
        answered_[kWill - kWill].set(option);
    for (const std::uint8_t option : {kBinary, kSuppressGoAhead})
        answered_[kDo - kWill].set(option);
}

bool Decoder::send(std::uint8_t verb, std::uint8_t option, QByteArray* reply)
{
    // Each answer once per option, so that two parties who disagree do
    // not answer each other for ever.
    auto& sent = answered_[std::size_t(verb - kWill)];
    if (sent.test(option))
        return false;
    sent.set(option);
    if (reply) {
        *reply += char(kIac);
        *reply += char(verb);
        *reply += char(option);
    }
    return true;
}

QByteArray Decoder::feed(const QByteArray& bytes, QByteArray* reply)
{
    QByteArray data;
    data.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = std::uint8_t(c);
        switch (state_) {
        case State::Data:
            if (b == kIac)
                state_ = State::Command;
            else
                data += c;
            break;
        case State::Command:
            if (b == kIac) {
                data += c; // a doubled 0xFF is one byte of data
                state_ = State::Data;
            } else if (b >= kWill && b <= kDont) {
                verb_ = b;
                state_ = State::Option;
            } else if (b == kSb) {
                state_ = State::Sub;
            } else {
                state_ = State::Data; // NOP, GA and the like
            }
            break;
        case State::Option:
            // Our own WILL/DO for the options we want were sent at the start.
            if (verb_ == kDo)
                send(wanted(b) ? kWill : kWont, b, reply);
            else if (verb_ == kWill)
                send(wanted(b) ? kDo : kDont, b, reply);
            state_ = State::Data;
            break;
        case State::Sub: // the server's notifications: skipped unread
            if (b == kIac)
                state_ = State::SubCommand;
            break;
        case State::SubCommand:
            state_ = b == kSe ? State::Data : State::Sub; // IAC IAC inside stays inside
            break;
        }
    }
    return data;
}

} // namespace orvik::telnet
