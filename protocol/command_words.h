#pragma once

#include "protocol/command_set.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <span>
#include <string_view>
#include <variant>

namespace orvik {

struct StatusQuery;

// What a command does on the line, and so what answer it expects.
enum class CommandKind {
    Operation, // one frame, acknowledged by ACK
    Hold,      // a press-and-hold button's frame, one or more steps
    Query,     // a status query, answered by a reply and CR
};

// A command word of the headless programs, named after its button.
struct CommandWord {
    std::string_view word;
    std::string_view code;
    CommandKind kind;
    HoldKind hold = HoldKind::Adjust; // for holds: the repeat period
};

std::span<const CommandWord> commandWords();
// The words, in table order, for help texts and error messages.
QStringList commandWordList();

// A command as given on a command line or a broker topic.
struct Command {
    QString text;  // as given: "status", "vol-up:3", "raw:C1E"
    QString frame; // the code and CR
    CommandKind kind = CommandKind::Operation;
    const StatusQuery* query = nullptr; // the decode table of a query, if it has one
    int steps = 1;
    std::chrono::milliseconds period{0}; // between the steps of a hold
};

// Most steps one hold command may send.
inline constexpr int kMaxSteps = 1000;

// A word, NAME:N for N steps of a hold, or raw:CODE for any code of the two
// families ("C" and two upper-case hex digits, "CR" and a digit). Anything
// else gives the reason it is refused.
std::variant<Command, QString> parseCommand(const QString& text);

} // namespace orvik
