#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <initializer_list>

namespace orvik::bench {

// CPU time used by this process so far (user and system).
std::chrono::microseconds cpuTime();
// Resident memory now and at its peak, in kB.
long residentKb();
long peakResidentKb();

// The same of another process, from /proc: CPU seconds so far (of its
// threads still running), and its peak resident memory in kB.
double cpuSecondsOf(qint64 pid);
long peakResidentKbOf(qint64 pid);

// Simulated projectors in the simulator program, PREFIX1 to PREFIXcount,
// once every one of them is there. `more` are the simulator's options.
// Ends each program, in turn: SIGTERM, then a wait.
void stopAll(std::initializer_list<QProcess*> programs);
void startSimulators(QProcess& sim, const char* simPath, const QString& prefix, int count, const QStringList& more);

} // namespace orvik::bench
