#pragma once

#include "protocol/outcome.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>
#include <variant>

namespace orvik::control {

// The messages on the service's socket: one JSON object a line, each with
// "v", the version. A request names an "op":
//   hello                       -> service, pid, ports [{name, device}]
//   run   id, device, command   -> id, outcome (or id, error)
//   lend  device, to, pid       -> lent (or error); the port stays lent until
//                                  this connection ends, however it ends
// Anything else is answered with "error" and the connection stays up; a
// line longer than kMaxLine ends the connection.
inline constexpr int kVersion = 1;
inline constexpr qsizetype kMaxLine = 16 * 1024;
// Requests one connection may have waiting; more are refused.
inline constexpr int kMaxWaiting = 1024;
// The group that owns the serial ports, let in besides root.
inline constexpr char kGroup[] = "dialout";

// ORVIK_CONTROL_SOCKET, or the system service's /run/orvik/gateway.sock.
QString socketPath();
// What a user who may not use the socket is told.
QString refusal(const QString& path);

// The object as a line, "v" added.
QByteArray encode(QJsonObject message);
// A line's object, or why it is refused: not JSON, not an object, or
// another version.
std::variant<QJsonObject, QString> decode(const QByteArray& line);

// An outcome whole, reply bytes included.
QJsonObject outcomeToJson(const Outcome& outcome);
Outcome outcomeFromJson(const QJsonObject& object);

// Cuts a byte stream into lines. Read it in pieces of at most kMaxLine
// bytes, take every line, then ask overflowed(): a line longer than kMaxLine
// makes the stream no good, so nothing grows without bound.
class LineReader {
public:
    void append(const QByteArray& bytes) { buffer_ += bytes; }
    std::optional<QByteArray> next();
    bool overflowed() const;

private:
    QByteArray buffer_;
};

} // namespace orvik::control
