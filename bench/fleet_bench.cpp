#include "bench/fleet_bench.h"

#include "bench/measure.h"

#include "tools/sim/pty_projector.h"
#include "tools/sim/run_program.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <vector>

namespace orvik::bench {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kReplyDelay = 20ms;

double cpuOfChildren()
{
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peakRssOfChildrenKb()
{
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

struct Run {
    double wall = 0; // seconds
    double cpu = 0;  // seconds
    int exitCode = -1;
    int lines = 0;
};

// One orvik-send to its end, with this event loop running meanwhile.
Run runSend(const char* sendPath, const QStringList& args)
{
    const double cpuBefore = cpuOfChildren();
    QElapsedTimer wall;
    wall.start();
    const sim::ProgramRun ran = sim::runWhileServing(QString::fromLocal8Bit(sendPath), args, 120s);
    Run run;
    run.wall = double(wall.nsecsElapsed()) / 1e9;
    if (!ran.ended)
        return run;
    run.cpu = cpuOfChildren() - cpuBefore;
    run.exitCode = ran.exitCode;
    run.lines = int(ran.out.count('\n'));
    if (run.exitCode != 0)
        std::fprintf(stderr, "%s", ran.err.left(400).constData());
    return run;
}

// The system calls of one run of orvik-send, as strace counts them; 0
// without strace.
long systemCallsOf(const char* sendPath, const QStringList& args)
{
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    QTemporaryDir dir;
    if (strace.isEmpty())
        return 0;
    const QString counts = dir.filePath(QStringLiteral("counts"));
    sim::runWhileServing(strace,
                         QStringList{QStringLiteral("-f"), QStringLiteral("-c"), QStringLiteral("-o"), counts,
                                     QString::fromLocal8Bit(sendPath)}
                             + args,
                         30s);
    QFile file(counts);
    file.open(QIODevice::ReadOnly);
    // "100.00    0.001354           3       388        15 total"
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.trimmed().endsWith(" total"))
            return line.simplified().split(' ').value(3).toLong();
    return 0;
}

// Whether the lock files' folder is in memory, as /run/lock is on a booted
// Debian: each port's lock file is made and removed there.
QString lockFolderKind()
{
    struct statfs folder {};
    if (::statfs("/run/lock", &folder) != 0)
        return QStringLiteral("no /run/lock");
    return folder.f_type == TMPFS_MAGIC ? QStringLiteral("/run/lock in memory (tmpfs)")
                                        : QStringLiteral("/run/lock on a disk");
}

} // namespace

int runFleet(const char* sendPath, const char* simPath, int count)
{
    const int kMost = std::max(500, count);
    QTemporaryDir dir;
    const QString prefix = dir.filePath(QStringLiteral("p"));
    QProcess sim;
    sim.start(QString::fromLocal8Bit(simPath),
              {QStringLiteral("--count"), QString::number(kMost), QStringLiteral("--delay"),
               QString::number(kReplyDelay.count()), QStringLiteral("--link"), prefix});
    if (!sim.waitForStarted() || !sim.waitForReadyRead(30000)) {
        std::fprintf(stderr, "orvik-bench: the simulator did not start\n");
        return 1;
    }
    QElapsedTimer ready;
    ready.start();
    while (!QFile::exists(prefix + QString::number(kMost)) && ready.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    std::printf("Lock files: %s\n\n| Measure | Result | Target |\n|---|---|---|\n", qPrintable(lockFolderKind()));
    int failures = 0;
    double perProjectorAt100 = 0, perProjectorAtMost = 0; // CPU seconds
    for (const int n : {1, 10, 100, 500, count}) {
        QByteArray ports;
        for (int i = 1; i <= n; ++i)
            ports += QStringLiteral("p%1 %2\n").arg(QString::number(i), prefix + QString::number(i)).toUtf8();
        const QString file = dir.filePath(QStringLiteral("ports-%1").arg(n));
        QFile out(file);
        out.open(QIODevice::WriteOnly);
        out.write(ports);
        out.close();
        const Run run = runSend(
            sendPath, {QStringLiteral("--ports-file"), file, QStringLiteral("status"), QStringLiteral("l-time")});
        if (run.exitCode != 0 || run.lines != 2 * n)
            ++failures;
        if (n == 100)
            perProjectorAt100 = run.cpu / n;
        if (n == count)
            perProjectorAtMost = run.cpu / n;
        const QString target = n == 100                ? QStringLiteral("under 0.3 s")
                               : n == 500 || n == 2000 ? QStringLiteral("under 1 s")
                                                       : QString();
        row(QStringLiteral("status l-time on %1 projectors at once: wall / CPU (exit %2, %3 lines)")
                .arg(n)
                .arg(run.exitCode)
                .arg(run.lines),
            QStringLiteral("%1 s / %2 s").arg(run.wall, 0, 'f', 3).arg(run.cpu, 0, 'f', 3), target);
    }
    row(QStringLiteral("CPU per projector at 100 / at %1, and the ratio").arg(count),
        QStringLiteral("%1 / %2 ms, %3")
            .arg(perProjectorAt100 * 1e3, 0, 'f', 3)
            .arg(perProjectorAtMost * 1e3, 0, 'f', 3)
            .arg(perProjectorAtMost / std::max(perProjectorAt100, 1e-9), 0, 'f', 2),
        QString());
    row(QStringLiteral("peak resident memory of orvik-send (%1 projectors)").arg(count),
        QStringLiteral("%1 MB").arg(double(peakRssOfChildrenKb()) / 1024.0, 0, 'f', 1),
        count <= 500 ? QStringLiteral("under 40 MB") : QString());

    double wall = 0, cpu = 0;
    for (int i = 1; i <= 100; ++i) {
        const Run run = runSend(sendPath, {QStringLiteral("--port"), prefix + QString::number(i),
                                           QStringLiteral("status"), QStringLiteral("l-time")});
        wall += run.wall;
        cpu += run.cpu;
        if (run.exitCode != 0)
            ++failures;
    }
    row(QStringLiteral("the same 100 as 100 runs one after another: wall / CPU"),
        QStringLiteral("%1 s / %2 s").arg(wall, 0, 'f', 3).arg(cpu, 0, 'f', 3), QString());

    // Start to first byte: a projector in this process sees the byte arrive.
    std::vector<double> firstByte;
    for (int i = 0; i < 20; ++i) {
        sim::PtyProjector projector(sim::PtyProjector::Options{.silent = true});
        QElapsedTimer since;
        double took = -1;
        QObject::connect(&projector, &sim::PtyProjector::bytesReceived, &projector, [&] {
            if (took < 0)
                took = double(since.nsecsElapsed()) / 1e6;
        });
        since.start();
        runSend(sendPath, {QStringLiteral("--port"), projector.devicePath(), QStringLiteral("--timeout"),
                           QStringLiteral("1"), QStringLiteral("power-on")});
        if (took >= 0)
            firstByte.push_back(took);
    }
    const double median = percentile(firstByte, 50);
    row(QStringLiteral("process start to first byte on the line, median of %1").arg(firstByte.size()),
        QStringLiteral("%1 ms").arg(median, 0, 'f', 1), QStringLiteral("under 50 ms"));

    const long version = systemCallsOf(sendPath, {QStringLiteral("--version")});
    const long onePort =
        systemCallsOf(sendPath, {QStringLiteral("--port"), prefix + QStringLiteral("1"), QStringLiteral("status")});
    if (version > 0)
        row(QStringLiteral("system calls of --port P status / of --version (strace -c)"),
            QStringLiteral("%1 / %2: %3 times")
                .arg(onePort)
                .arg(version)
                .arg(double(onePort) / double(version), 0, 'f', 2),
            QStringLiteral("at most 4 times"));

    sim.terminate();
    sim.waitForFinished(5000);
    if (failures)
        std::printf("\n%d runs did not answer every command\n", failures);
    return failures ? 1 : 0;
}

} // namespace orvik::bench
