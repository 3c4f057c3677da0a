// Fuzzes what a PJLink client can send: a ports-file address and a command
// line, against a projector in any known state. Nothing crashes; every
// reply is one line that names the command it answers.
#include "pjlink/address.h"
#include "pjlink/answers.h"

#include <cstdint>
#include <cstdlib>

using namespace orvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)pjlink::parseListenAddress(QString::fromUtf8(bytes));
    static const char* const kPower[] = {"on", "standby", "cooling_down", "temperature_abnormality", "", "x"};
    const QHash<QString, QString> states{
        {QStringLiteral("availability"), size % 3 ? QStringLiteral("online") : QStringLiteral("offline")},
        {QStringLiteral("power"), QLatin1String(kPower[size % 6])},
        {QStringLiteral("input"), QStringLiteral("video")},
        {QStringLiteral("lamp_hours"), QString::fromLatin1(bytes.left(6))},
    };
    const auto action = pjlink::answer(bytes.left(pjlink::kMaxLine), {QString::fromUtf8(bytes), QString(), states});
    if (const QByteArray* reply = std::get_if<QByteArray>(&action)) {
        if (reply->isEmpty())
            return 0;
        if (!reply->endsWith('\r') || reply->count('\r') != 1 || reply->left(6) != bytes.left(6).toUpper()
            || reply->at(6) != '=' || reply->size() > 6 + 1 + 64 + 1)
            std::abort();
    } else if (std::get<pjlink::Forward>(action).commands.isEmpty()) {
        std::abort();
    }
    return 0;
}
