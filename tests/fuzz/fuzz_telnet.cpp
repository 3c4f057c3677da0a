// Fuzzes the Telnet decoder with what a hostile device server may send, in
// pieces of any size: it never crashes, never gives more data than it was
// fed, and answers each option at most once.
#include "link/telnet.h"

#include <cstdint>
#include <cstdlib>

using namespace orvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    telnet::Decoder decoder;
    QByteArray replies;
    std::size_t at = 0;
    while (at < size) {
        const std::size_t length = std::min<std::size_t>(1 + data[at] % 32, size - at);
        const QByteArray piece(reinterpret_cast<const char*>(data + at), qsizetype(length));
        at += length;
        const QByteArray out = decoder.feed(piece, &replies);
        if (out.size() > piece.size())
            std::abort();
    }
    // Three bytes an answer, at most one answer per verb and option.
    if (replies.size() > 3 * 4 * 256)
        std::abort();
    return 0;
}
