// Fuzzes the parsing of the serial settings string: nothing crashes, and
// whatever parses formats back to a string that parses the same.
#include "link/line_settings.h"

#include <cstdint>
#include <cstdlib>

using namespace orvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto parsed = parseLineSettings(text);
    if (!parsed)
        return 0;
    if (parsed->dataBits < 4 || parsed->dataBits > 8 || parsed->baud < 110 || parsed->baud > 256000)
        std::abort();
    const auto again = parseLineSettings(formatLineSettings(*parsed));
    if (!again || *again != *parsed)
        std::abort();
    return 0;
}
