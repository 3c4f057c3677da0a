// Fuzzes the service socket's messages with whatever a client or a broken
// service may send, in pieces of any size: lines stay bounded, nothing
// crashes, and an outcome read from any object stays within a reply's size.
#include "control_socket/messages.h"

#include <cstdint>
#include <cstdlib>

using namespace orvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    control::LineReader reader;
    std::size_t at = 0;
    while (at < size) {
        const std::size_t length = std::min<std::size_t>(1 + data[at] % 64, size - at);
        reader.append(QByteArray(reinterpret_cast<const char*>(data + at), qsizetype(length)));
        at += length;
        while (const auto line = reader.next()) {
            if (line->size() > control::kMaxLine || line->contains('\n'))
                std::abort();
            const auto message = control::decode(*line);
            if (const QJsonObject* object = std::get_if<QJsonObject>(&message)) {
                const Outcome outcome = control::outcomeFromJson(object->value(QStringLiteral("outcome")).toObject());
                if (outcome.reply.size() > kMaxReply)
                    std::abort();
                control::encode(control::outcomeToJson(outcome));
            }
        }
        if (reader.overflowed())
            return 0; // the stream is refused here
    }
    return 0;
}
