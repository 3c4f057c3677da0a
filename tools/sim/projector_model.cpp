#include "tools/sim/projector_model.h"

namespace orvik::sim {
namespace {

// A frame longer than this without a carriage return is line noise.
constexpr qsizetype kMaxFrame = 64;

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

} // namespace

QList<QByteArray> ProjectorModel::feed(const QByteArray& bytes)
{
    QList<QByteArray> replies;
    for (const char c : bytes) {
        if (c != '\r') {
            if (pending_.size() < kMaxFrame)
                pending_ += c;
            continue;
        }
        const QByteArray reply = answer(pending_);
        pending_.clear();
        if (!reply.isEmpty())
            replies.append(reply);
    }
    return replies;
}

QByteArray ProjectorModel::powerReply() const
{
    const auto since = Steady::now() - switched_;
    if (powerOn_)
        return since < warmUp_ ? "40\r" : "00\r";
    return since < coolDown_ ? "20\r" : "80\r";
}

QByteArray ProjectorModel::answer(const QByteArray& code)
{
    if (code == "CR0")
        return powerReply();
    if (code == "CR1")
        return input_ == 1 ? "1\r" : "3\r";
    if (code == "CR3")
        return QByteArray::number(hours_ % 10000).rightJustified(4, '0') + '\r';
    if (code == "CR4")
        return "11\r";
    if (code.size() != 3 || code[0] != 'C' || !isHexDigit(code[1]) || !isHexDigit(code[2]))
        return {};
    if ((code == "C00" && !powerOn_) || (code == "C02" && powerOn_)) {
        powerOn_ = !powerOn_;
        switched_ = Steady::now();
    } else if (code == "C05")
        input_ = 1;
    else if (code == "C07")
        input_ = 3;
    return QByteArray(1, kAck);
}

} // namespace orvik::sim
