#include "bench/mqtt_bench.h"

#include "bench/measure.h"
#include "bench/process_stats.h"

#include "mqtt/mqtt_client.h"
#include "tools/sim/pty_projector.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace orvik::bench {
namespace {

using namespace std::chrono_literals;

constexpr int kProjectors = 100;
constexpr int kSamples = 200;

} // namespace

int runMqtt(const char* mqttPath, const char* simPath)
{
    const QString mosquitto =
        QStandardPaths::findExecutable(QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin")});
    if (mosquitto.isEmpty()) {
        std::fprintf(stderr, "orvik-bench: mosquitto is not installed (Debian package mosquitto)\n");
        return 1;
    }
    QTemporaryDir dir;
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    QFile config(dir.filePath(QStringLiteral("mosquitto.conf")));
    config.open(QIODevice::WriteOnly);
    config.write(
        QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\nset_tcp_nodelay true\n")
            .arg(port)
            .toUtf8());
    config.close();
    QProcess broker;
    broker.start(mosquitto, {QStringLiteral("-c"), config.fileName()});
    for (int i = 0; i < 100; ++i) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(100))
            break;
        runFor(50ms);
    }

    // 99 projectors in the simulator program, the one measured here.
    const QString prefix = dir.filePath(QStringLiteral("p"));
    QProcess sim;
    startSimulators(sim, simPath, prefix, kProjectors - 1, {QStringLiteral("--delay"), QStringLiteral("20")});
    sim::PtyProjector measured(sim::PtyProjector::Options{.delay = 20ms, .record = false});
    QByteArray ports;
    for (int i = 1; i < kProjectors; ++i)
        ports += QStringLiteral("p%1 %2\n").arg(QString::number(i), prefix + QString::number(i)).toUtf8();
    ports += QStringLiteral("measured %1\n").arg(measured.devicePath()).toUtf8();
    const QString portsFile = writeFile(dir.filePath(QStringLiteral("ports")), ports);

    QProcess service;
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(QString::fromLocal8Bit(mqttPath),
                  {QStringLiteral("--ports-file"), portsFile, QStringLiteral("--broker"),
                   QStringLiteral("mqtt://127.0.0.1:%1").arg(port), QStringLiteral("--poll"), QStringLiteral("1")});
    service.waitForStarted();
    runFor(3s); // every port open, the first polls answered

    std::printf("| Measure | Result | Target |\n|---|---|---|\n");
    const double cpuBefore = cpuSecondsOf(service.processId());
    runFor(20s);
    const double cpu = (cpuSecondsOf(service.processId()) - cpuBefore) / 20.0 * 100.0;
    row(QStringLiteral("CPU of orvik-mqtt, %1 projectors polled every second (20 s)").arg(kProjectors),
        QStringLiteral("%1% of a core").arg(cpu, 0, 'f', 2), QStringLiteral("under 2%"));

    MqttClient::Settings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = port;
    MqttClient publisher(settings);
    QString error;
    publisher.start(&error);
    while (!publisher.isConnected())
        runFor(20ms);
    std::vector<double> latencies;
    QElapsedTimer since;
    bool waiting = false;
    QObject::connect(&measured, &sim::PtyProjector::bytesReceived, &measured, [&](const QByteArray& bytes) {
        if (waiting && bytes.contains("C02\r")) {
            latencies.push_back(double(since.nsecsElapsed()) / 1e6);
            waiting = false;
        }
    });
    for (int i = 0; i < kSamples; ++i) {
        waiting = true;
        since.start();
        publisher.publish(QStringLiteral("orvik/measured/command"), "power-off", false);
        QElapsedTimer limit;
        limit.start();
        while (waiting && limit.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        runFor(std::chrono::milliseconds(40 + i % 30)); // not in step with the polls
    }
    row(QStringLiteral("mosquitto publish of power-off to C02 at the projector: median / 95th percentile (%1 of %2)")
            .arg(latencies.size())
            .arg(kSamples),
        QStringLiteral("%1 / %2 ms")
            .arg(percentile(latencies, 50), 0, 'f', 2)
            .arg(percentile(latencies, 95), 0, 'f', 2),
        QStringLiteral("under 10 / under 30 ms"));
    row(QStringLiteral("peak resident memory of orvik-mqtt, %1 projectors").arg(kProjectors),
        QStringLiteral("%1 MB").arg(double(peakResidentKbOf(service.processId())) / 1024.0, 0, 'f', 1),
        QStringLiteral("under 40 MB"));

    stopAll({&service, &sim, &broker});
    return 0;
}

} // namespace orvik::bench
