#include "bench/pjlink_bench.h"

#include "bench/measure.h"
#include "bench/process_stats.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

namespace orvik::bench {
namespace {

using namespace std::chrono_literals;

constexpr int kProjectors = 100;
constexpr auto kWindow = 30s;

// Frames the simulators received so far: each ends in CR.
qsizetype framesIn(const QString& record)
{
    QFile file(record);
    return file.open(QIODevice::ReadOnly) ? file.readAll().count('\r') : 0;
}

// A client asking POWR ? every second, timing each answer.
class Asker {
public:
    Asker(const QString& host, quint16 port, std::chrono::milliseconds phase, std::vector<double>& times)
        : times_(times)
    {
        socket_.connectToHost(host, port);
        QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_, [this] {
            in_ += socket_.readAll();
            while (in_.contains('\r')) {
                const QByteArray line = in_.left(in_.indexOf('\r'));
                in_.remove(0, line.size() + 1);
                if (line.startsWith("%1POWR=") && asked_.isValid()) {
                    times_.push_back(double(asked_.nsecsElapsed()) / 1e6);
                    asked_.invalidate();
                }
            }
        });
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, &socket_, [this] {
            asked_.start();
            socket_.write("%1POWR ?\r");
            timer_.start(1s);
        });
        timer_.start(phase); // the clients spread over the second
    }

private:
    QTcpSocket socket_;
    QTimer timer_;
    QElapsedTimer asked_;
    QByteArray in_;
    std::vector<double>& times_;
};

struct Cost {
    double cpu = 0;    // fraction of a core
    double peakMb = 0; // resident
};

// The gateway on `count` simulated projectors, a PJLink address each, polls
// at the default: its CPU over three poll periods once the start is over.
Cost quietCost(const char* gatewayPath, const char* simPath, int count)
{
    constexpr auto kQuietWindow = 30s;
    QTemporaryDir dir;
    const QString prefix = dir.filePath(QStringLiteral("q"));
    QProcess sim;
    startSimulators(sim, simPath, prefix, count, {});
    QTcpServer probe;
    probe.listen(QHostAddress(QStringLiteral("127.1.0.1")), 0);
    const quint16 port = probe.serverPort();
    probe.close();
    QByteArray ports;
    for (int i = 0; i < count; ++i)
        ports += QStringLiteral("q%1 %2 pjlink=127.1.%3.%4:%5\n")
                     .arg(i + 1)
                     .arg(prefix + QString::number(i + 1))
                     .arg(i / 250)
                     .arg(i % 250 + 1)
                     .arg(port)
                     .toUtf8();
    QProcess gateway;
    gateway.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    gateway.start(QString::fromLocal8Bit(gatewayPath),
                  {QStringLiteral("--ports-file"), writeFile(dir.filePath(QStringLiteral("ports")), ports),
                   QStringLiteral("--control-socket"), dir.filePath(QStringLiteral("sock"))});
    gateway.waitForStarted();
    runFor(15s); // every port open, the first rounds of polls answered
    const double before = cpuSecondsOf(gateway.processId());
    runFor(kQuietWindow);
    Cost cost;
    cost.cpu = (cpuSecondsOf(gateway.processId()) - before) / std::chrono::duration<double>(kQuietWindow).count();
    cost.peakMb = double(peakResidentKbOf(gateway.processId())) / 1024.0;
    stopAll({&gateway, &sim});
    return cost;
}

} // namespace

int runPjlink(const char* gatewayPath, const char* simPath, int count)
{
    QTemporaryDir dir;
    const QString prefix = dir.filePath(QStringLiteral("p"));
    const QString record = dir.filePath(QStringLiteral("frames"));
    QProcess sim;
    startSimulators(sim, simPath, prefix, kProjectors, {QStringLiteral("--record"), record});

    // One address a projector, all on one port, as most sites would have it.
    QTcpServer probe;
    probe.listen(QHostAddress(QStringLiteral("127.0.2.1")), 0);
    const quint16 port = probe.serverPort();
    probe.close();
    const auto host = [](int i) { return QStringLiteral("127.0.2.%1").arg(i); };
    QByteArray ports;
    for (int i = 1; i <= kProjectors; ++i)
        ports +=
            QStringLiteral("p%1 %2 pjlink=%3:%4\n").arg(i).arg(prefix + QString::number(i), host(i)).arg(port).toUtf8();
    const QString portsFile = writeFile(dir.filePath(QStringLiteral("ports")), ports);

    QProcess gateway;
    gateway.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    gateway.start(QString::fromLocal8Bit(gatewayPath), {QStringLiteral("--ports-file"), portsFile});
    gateway.waitForStarted();
    runFor(5s); // every port open, the first polls answered

    std::printf("| Measure | Result | Target |\n|---|---|---|\n");
    const double minutes = std::chrono::duration<double>(kWindow).count() / 60.0;
    const qsizetype framesBefore = framesIn(record);
    runFor(kWindow);
    const double alone = double(framesIn(record) - framesBefore) / minutes;

    std::vector<double> times;
    std::vector<std::unique_ptr<Asker>> clients;
    for (int i = 1; i <= kProjectors; ++i)
        clients.push_back(std::make_unique<Asker>(host(i), port, std::chrono::milliseconds(i * 10), times));
    runFor(3s);
    times.clear();
    const double cpuBefore = cpuSecondsOf(gateway.processId());
    const qsizetype framesFrom = framesIn(record);
    runFor(kWindow);
    const double cpu = (cpuSecondsOf(gateway.processId()) - cpuBefore) / std::chrono::duration<double>(kWindow).count();
    const double asked = double(framesIn(record) - framesFrom) / minutes;

    row(QStringLiteral("POWR ? answered from what is known, %1 clients once a second: median / 99th percentile (%2 "
                       "answers)")
            .arg(kProjectors)
            .arg(times.size()),
        QStringLiteral("%1 / %2 ms").arg(percentile(times, 50), 0, 'f', 3).arg(percentile(times, 99), 0, 'f', 3),
        QStringLiteral("median under 1 ms"));
    row(QStringLiteral("CPU of orvik-gateway, %1 projectors, a client each asking every second (%2 s)")
            .arg(kProjectors)
            .arg(std::chrono::seconds(kWindow).count()),
        QStringLiteral("%1% of a core").arg(cpu * 100.0, 0, 'f', 2), QStringLiteral("under 3%"));
    row(QStringLiteral("peak resident memory of orvik-gateway"),
        QStringLiteral("%1 MB").arg(double(peakResidentKbOf(gateway.processId())) / 1024.0, 0, 'f', 1),
        QStringLiteral("under 60 MB"));
    row(QStringLiteral("frames a minute on the %1 lines: the polls alone / with the clients").arg(kProjectors),
        QStringLiteral("%1 / %2").arg(alone, 0, 'f', 0).arg(asked, 0, 'f', 0), QStringLiteral("no more with them"));

    clients.clear();
    stopAll({&gateway, &sim});

    // The curve: what a projector costs as the fleet grows.
    const Cost small = quietCost(gatewayPath, simPath, kProjectors);
    const Cost large = quietCost(gatewayPath, simPath, count);
    const auto perProjector = [](const Cost& cost, int n) { return cost.cpu * 1e6 / n; }; // µs a second
    const auto costRow = [&](const Cost& cost, int n, const QString& target) {
        row(QStringLiteral("CPU of orvik-gateway, %1 projectors with a PJLink address each, polls at the default "
                           "(30 s): of a core / per projector")
                .arg(n),
            QStringLiteral("%1% / %2 µs a second")
                .arg(cost.cpu * 100.0, 0, 'f', 3)
                .arg(perProjector(cost, n), 0, 'f', 2),
            target);
    };
    costRow(small, kProjectors, QString());
    costRow(large, count, count >= 1000 ? QStringLiteral("under 1% at 1,000") : QString());
    row(QStringLiteral("cost per projector at %1 over its cost at %2").arg(count).arg(kProjectors),
        QStringLiteral("%1").arg(perProjector(large, count) / perProjector(small, kProjectors), 0, 'f', 2),
        QStringLiteral("at most 1.5"));
    row(QStringLiteral("peak resident memory of orvik-gateway, %1 projectors").arg(count),
        QStringLiteral("%1 MB").arg(large.peakMb, 0, 'f', 1), QStringLiteral("under 100 MB at 1,000"));
    return 0;
}

} // namespace orvik::bench
