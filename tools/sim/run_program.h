#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>

namespace orvik::sim {

// A program run to its end.
struct ProgramRun {
    bool ended = false; // false: still running at the deadline, and killed
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a program to its end, or `within` and then kills it, while this
// thread's event loop goes on: simulated projectors on it keep answering.
// `input` is written to its standard input, which is then closed.
ProgramRun runWhileServing(const QString& program, const QStringList& args, std::chrono::milliseconds within,
                           const QByteArray& input = {},
                           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

} // namespace orvik::sim
