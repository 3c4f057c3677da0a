#pragma once

#include <QString>

#include <optional>

namespace orvik {

// The decode step: after a status query, the start of the RXD line is
// looked up in that query's table. Nothing when SendBuffer is no query
// frame or no row matches.
std::optional<QString> decodeStatus(const QString& sendBuffer, const QString& rxdLine);

} // namespace orvik
