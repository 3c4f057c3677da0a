#include "protocol/traffic_rendering.h"

namespace orvik {

QString renderTraffic(QStringView text)
{
    QString out;
    out.reserve(1 + text.size() * 4);
    out += u' ';
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code == 6)
            out += u"ACK ";
        else if (code == 13)
            out += u"CR ";
        else if (code == 10)
            out += u"LF  ";
        else if (code < 32 || code > 122)
            out += u"? ";
        else {
            out += c;
            out += u' ';
        }
    }
    return out;
}

} // namespace orvik
