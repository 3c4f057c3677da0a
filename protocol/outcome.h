#pragma once

#include "protocol/command_words.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace orvik {

// What one command got back, read as the panel reads it.
struct Outcome {
    QByteArray reply;              // as it came, at most kMaxReply bytes
    std::optional<QString> status; // the decoded text, without the panel's leading space
    QString state;                 // "on", "computer", "normal"... or empty
    std::optional<int> hours;      // after l-time
    bool ok = false;               // answered as expected
    QString error;                 // why not, when not
    qint64 ms = 0;                 // from the first frame sent to the end of the command
    std::optional<qint64> replyMs; // from the last answered frame to the end of its reply
    bool portFailed = false;       // not sent: the port could not be opened or was lost
};

// Most reply bytes kept, as the panel's receive buffer.
inline constexpr qsizetype kMaxReply = 1024;

// Reads a reply: a query's decoded status, ACK for the others. An empty
// reply is "no reply".
Outcome readReply(const Command& command, const QByteArray& reply);
// A command that never reached the line.
Outcome portFailure(const QString& why);
// Why, when the port was lost: "port lost: REASON", REASON the system's words.
QString portLostText(const QString& reason);

// The state a query's answer tells, as a name and a value: ("power", "on"),
// ("lamp_hours", "1234"); nothing for other commands or failed ones.
struct ReportedState {
    QString name;
    QString value;
};
std::optional<ReportedState> reportedState(const Command& command, const Outcome& outcome);

// The result in words: the status ("Power ON", "1234 hours"), "ok",
// "no reply", the reply as the RXD line shows it, or the error.
QString resultText(const Outcome& outcome);

// One JSON object: projector, device, command, frame, reply, status, state,
// hours, ok, error, ms.
QJsonObject toJson(const QString& projector, const QString& device, const Command& command, const Outcome& outcome);

} // namespace orvik
