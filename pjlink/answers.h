#pragma once

#include "protocol/command_words.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <variant>

namespace orvik::pjlink {

// Longest line a client may send, its CR (or LF, or CR LF) counted as one
// byte: a class 1 command with the digest in front fits.
inline constexpr qsizetype kMaxLine = 136;
// The answer to a wrong or missing digest; the connection closes after it.
inline constexpr char kAuthError[] = "PJLINK ERRA\r";
// The manufacturer and product names of INF1 and INF2.
inline constexpr char kManufacturer[] = "orvik-control";
inline constexpr char kProduct[] = "RS-232C projector";

// What the service knows of a projector: its name and device in the ports
// file, and the states its polls and commands left ("power", "input",
// "lamp_hours", "availability", "video_mute", "audio_mute").
struct Known {
    QString name;
    QString device;
    const QHash<QString, QString>& states;
};

// A set: the commands to run in order, then the answer, "OK" when the
// projector acknowledged every one of them.
struct Forward {
    QByteArray head; // "%1POWR"
    QList<Command> commands;
};

// The answer to one command line (digest and CR taken off): the reply at
// once, CR included, or commands to run first. A line that is no command
// at all gets an empty reply.
std::variant<QByteArray, Forward> answer(QByteArrayView line, const Known& known);
// The reply to a set after its commands ran.
QByteArray setAnswer(const QByteArray& head, bool ok);

// The greeting: "PJLINK 0", or "PJLINK 1 RANDOM" when a password is asked.
QByteArray greeting(const QByteArray& random);
// A fresh random for the greeting: 8 hexadecimal digits.
QByteArray makeRandom();
// The digest a client puts in front: md5(random + password) in 32
// lower-case hexadecimal digits.
QByteArray digestOf(const QByteArray& random, const QByteArray& password);
// Whether a client's digest is `expected`, in upper or lower case, in a
// time that does not depend on where they differ.
bool sameDigest(QByteArrayView given, QByteArrayView expected);

} // namespace orvik::pjlink
