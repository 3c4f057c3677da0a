#include "bench/process_stats.h"

#include "bench/measure.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

#include <sys/resource.h>

namespace orvik::bench {
namespace {

long statusField(const char* name, const QString& pid = QStringLiteral("self"))
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(name))
            return line.mid(int(qstrlen(name))).trimmed().split(' ').front().toLong();
    return -1;
}

} // namespace

std::chrono::microseconds cpuTime()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto us = [](const timeval& t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    return us(usage.ru_utime) + us(usage.ru_stime);
}

long residentKb() { return statusField("VmRSS:"); }
long peakResidentKb() { return statusField("VmHWM:"); }

double cpuSecondsOf(qint64 pid)
{
    // Each thread's time on a CPU in nanoseconds: /proc/PID/stat counts in
    // ticks of 10 ms, too coarse for a quiet service over half a minute.
    double seconds = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (schedstat.open(QIODevice::ReadOnly))
            seconds += double(schedstat.readAll().split(' ').value(0).toLongLong()) / 1e9;
    }
    return seconds;
}

long peakResidentKbOf(qint64 pid) { return statusField("VmHWM:", QString::number(pid)); }

void stopAll(std::initializer_list<QProcess*> programs)
{
    for (QProcess* program : programs) {
        program->terminate();
        program->waitForFinished(5000);
    }
}

void startSimulators(QProcess& sim, const char* simPath, const QString& prefix, int count, const QStringList& more)
{
    sim.start(QString::fromLocal8Bit(simPath),
              QStringList{QStringLiteral("--count"), QString::number(count), QStringLiteral("--link"), prefix} + more);
    sim.waitForReadyRead(30000);
    while (!QFile::exists(prefix + QString::number(count)))
        runFor(std::chrono::milliseconds(50));
}

} // namespace orvik::bench
