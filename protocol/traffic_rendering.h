#pragma once

#include <QString>
#include <QStringView>

namespace orvik {

// The traffic rendering shown on the TXD and RXD lines: one space, then a
// token for each character: ACK "ACK ", CR "CR ", LF "LF  ", other control
// characters "? ", " " to "z" the character and a space, anything above
// "z" "? ". Status decoding reads these tokens back.
QString renderTraffic(QStringView text);

} // namespace orvik
