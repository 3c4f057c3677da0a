// Fuzzes the lines every face reads and the service socket's messages, with
// whatever a client or a broken service may send, in pieces of any size:
// lines stay within their bound and hold no end, nothing crashes, and an
// outcome read from any object stays within a reply's size.
#include "connection/line_connection.h"
#include "control_socket/messages.h"
#include "pjlink/answers.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

using namespace orvik;

namespace {

// Every line of the stream, as `splitter` cuts it, to `take`.
template <class Take>
void split(const std::uint8_t* data, std::size_t size, LineSplitter& splitter, qsizetype longest,
           const QByteArray& ends, Take take)
{
    std::size_t at = 0;
    while (at < size && !splitter.tooLong()) {
        const std::size_t length = std::min<std::size_t>(1 + data[at] % 64, size - at);
        splitter.append(QByteArrayView(reinterpret_cast<const char*>(data + at), qsizetype(length)));
        at += length;
        while (const auto line = splitter.next()) {
            if (line->size() >= longest
                || std::any_of(ends.begin(), ends.end(), [&](char c) { return line->contains(c); }))
                std::abort();
            take(*line);
        }
        if (splitter.room() > longest + 1)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    LineSplitter pjlinkLines(pjlink::kMaxLine, "\r\n");
    split(data, size, pjlinkLines, pjlink::kMaxLine, "\r\n", [](const QByteArray&) {});
    LineSplitter controlLines(control::kMaxLine + 1, "\n");
    split(data, size, controlLines, control::kMaxLine + 1, "\n", [](const QByteArray& line) {
        const auto message = control::decode(line);
        if (const QJsonObject* object = std::get_if<QJsonObject>(&message)) {
            const Outcome outcome = control::outcomeFromJson(object->value(QStringLiteral("outcome")).toObject());
            if (outcome.reply.size() > kMaxReply)
                std::abort();
            control::encode(control::outcomeToJson(outcome));
        }
    });
    return 0;
}
