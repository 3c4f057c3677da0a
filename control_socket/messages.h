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
//   lend  id, device            -> id, op "lent" (or id, error); the port
//                                  stays lent until this connection ends,
//                                  however it ends, to the process the
//                                  kernel says is at the other end
// Anything else is answered with "error" and the connection stays up; a
// line longer than kMaxLine ends the connection.
inline constexpr int kVersion = 1;
inline constexpr qsizetype kMaxLine = 16 * 1024; // its newline not counted
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

} // namespace orvik::control
