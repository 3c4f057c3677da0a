// orvik-send as a user runs it: the real program against simulated
// projectors on pseudo-terminals. Tolerances are generous.
#include "tools/sim/pty_projector.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

using namespace orvik;
using sim::PtyProjector;
using namespace std::chrono_literals;

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs orvik-send while this event loop serves the simulated projectors.
Run send(const QStringList& args)
{
    QProcess process;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(60s, &loop, &QEventLoop::quit);
    process.start(QStringLiteral(ORVIK_SEND_PATH), args);
    loop.exec();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

class TestSend : public QObject {
    Q_OBJECT
private slots:
    void everyFamilyOnOnePort()
    {
        PtyProjector projector;
        const QString port = projector.devicePath();
        const Run status = send({QStringLiteral("--port"), port, QStringLiteral("status")});
        QCOMPARE(status.out, QStringLiteral("Power ON\n")); // $(orvik-send status)
        QCOMPARE(status.exitCode, 0);

        projector.clearReceived();
        const Run all = send({QStringLiteral("-p"), port, QStringLiteral("power-off"), QStringLiteral("input-video"),
                              QStringLiteral("status"), QStringLiteral("mode"), QStringLiteral("l-time"),
                              QStringLiteral("setting"), QStringLiteral("vol-up:3"), QStringLiteral("raw:C1E")});
        QCOMPARE(all.out, QStringLiteral("power-off ok\ninput-video ok\nstatus Stand by\nmode Video\n"
                                         "l-time 1234 hours\nsetting Normally\nvol-up:3 ok\nraw:C1E ok\n"));
        QCOMPARE(all.exitCode, 0);
        QCOMPARE(projector.received(), QByteArray("C02\rC07\rCR0\rCR1\rCR3\rCR4\rC09\rC09\rC09\rC1E\r"));
    }

    void exitStatusesSayWhatWentWrong()
    {
        PtyProjector answering;
        PtyProjector silent(PtyProjector::Options{.silent = true});
        const Run usage = send({QStringLiteral("-p"), answering.devicePath(), QStringLiteral("power-onn")});
        QCOMPARE(usage.exitCode, 2);
        QVERIFY(usage.err.contains(QLatin1String("power-on, power-off")));
        QVERIFY(answering.received().isEmpty()); // nothing sent

        const Run unanswered = send({QStringLiteral("-p"), silent.devicePath(), QStringLiteral("status")});
        QCOMPARE(unanswered.exitCode, 1);
        QCOMPARE(unanswered.out, QStringLiteral("no reply\n"));

        // A missing port costs only itself: the other answers, the status is 3.
        const Run missing = send({QStringLiteral("-p"), QStringLiteral("hall-1=") + answering.devicePath(),
                                  QStringLiteral("-p"), QStringLiteral("hall-2=/dev/orvik-none"), QStringLiteral("-p"),
                                  QStringLiteral("hall-3=") + silent.devicePath(), QStringLiteral("status")});
        QCOMPARE(missing.exitCode, 3);
        QCOMPARE(missing.out, QStringLiteral("hall-1 status Power ON\nhall-3 status no reply\n"));
        QVERIFY2(missing.err.startsWith(QLatin1String("orvik-send: hall-2 (/dev/orvik-none): No such file")),
                 qPrintable(missing.err));
    }

    void fiftyPortsAtOnceAsJsonLines()
    {
        QTemporaryDir dir;
        std::vector<std::unique_ptr<PtyProjector>> projectors;
        QByteArray file = "# the first floor\n\n";
        for (int i = 1; i <= 50; ++i) {
            projectors.push_back(std::make_unique<PtyProjector>(PtyProjector::Options{.delay = 20ms, .hours = i}));
            file += QStringLiteral("p%1  %2  # room %1\n").arg(i).arg(projectors.back()->devicePath()).toUtf8();
        }
        const QString ports = dir.filePath(QStringLiteral("ports"));
        QFile out(ports);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file);
        out.close();

        const Run run = send({QStringLiteral("--ports-file"), ports, QStringLiteral("--json"), QStringLiteral("status"),
                              QStringLiteral("l-time")});
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 100);
        QSet<QString> seen;
        for (const QString& line : lines) {
            QJsonParseError error{};
            const QJsonObject object = QJsonDocument::fromJson(line.toUtf8(), &error).object();
            QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(line));
            const QString name = object.value(QLatin1String("projector")).toString();
            QVERIFY(object.value(QLatin1String("ok")).toBool());
            if (object.value(QLatin1String("command")).toString() == u"status") {
                QCOMPARE(object.value(QLatin1String("state")).toString(), QStringLiteral("on"));
                QCOMPARE(object.value(QLatin1String("reply")).toString(), QStringLiteral("00\r"));
            } else {
                QCOMPARE(object.value(QLatin1String("hours")).toInt(), name.mid(1).toInt());
                QCOMPARE(object.value(QLatin1String("frame")).toString(), QStringLiteral("CR3\r"));
            }
            seen.insert(name);
        }
        QCOMPARE(seen.size(), 50);
    }

    void untilWaitsOutTheWarmUp()
    {
        PtyProjector projector(PtyProjector::Options{.warmUp = 1500ms});
        send({QStringLiteral("-p"), projector.devicePath(), QStringLiteral("power-off")});
        QElapsedTimer took;
        took.start();
        const Run run = send({QStringLiteral("-p"), projector.devicePath(), QStringLiteral("power-on"),
                              QStringLiteral("--until"), QStringLiteral("on")});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(took.elapsed() >= 1400);
        QCOMPARE(run.out, QStringLiteral("power-on ok\nuntil:on Power ON\n"));

        const Run late = send({QStringLiteral("-p"), projector.devicePath(), QStringLiteral("--until"),
                               QStringLiteral("standby"), QStringLiteral("--within"), QStringLiteral("1")});
        QCOMPARE(late.exitCode, 1);
        QCOMPARE(late.out, QStringLiteral("still on after 1 s\n"));
    }

    void thePrometheusFilePassesPromtool()
    {
        const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
        if (promtool.isEmpty())
            QSKIP("promtool is not installed (Debian package prometheus; tools/install-deps.sh test installs it)");
        PtyProjector on;
        PtyProjector silent(PtyProjector::Options{.silent = true});
        QTemporaryDir dir;
        const QString metrics = dir.filePath(QStringLiteral("orvik.prom"));
        const Run run = send({QStringLiteral("-p"), QStringLiteral("hall-1=") + on.devicePath(), QStringLiteral("-p"),
                              QStringLiteral("hall-2=") + silent.devicePath(), QStringLiteral("--prometheus"), metrics,
                              QStringLiteral("status"), QStringLiteral("mode"), QStringLiteral("l-time")});
        QCOMPARE(run.exitCode, 1);
        QFile file(metrics);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("orvik_up{projector=\"hall-1\"} 1\n"));
        QVERIFY(text.contains("orvik_up{projector=\"hall-2\"} 0\n"));
        QVERIFY(text.contains("orvik_power_state{projector=\"hall-1\",state=\"on\"} 1\n"));
        QVERIFY(text.contains("orvik_power_state{projector=\"hall-1\",state=\"standby\"} 0\n"));
        QVERIFY(text.contains("orvik_lamp_hours{projector=\"hall-1\"} 1234\n"));
        QVERIFY(text.contains("orvik_input{projector=\"hall-1\",input=\"computer\"} 1\n"));
        QVERIFY(!text.contains("projector=\"hall-2\",")); // nothing stale of the silent one
        QProcess check;
        check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
        check.write(text);
        check.closeWriteChannel();
        QVERIFY(check.waitForFinished(30000));
        const QString said = QString::fromUtf8(check.readAllStandardOutput() + check.readAllStandardError());
        // Lamp life is read in hours: promtool's wish for seconds is expected.
        QVERIFY2(check.exitCode() == 0 || said.trimmed().split(u'\n').size() == 1, qPrintable(said));
        QVERIFY2(!said.contains(QLatin1String("error")), qPrintable(said));
    }
};

QTEST_GUILESS_MAIN(TestSend)
#include "test_send.moc"
