// orvik-send as a user runs it: the real program against simulated
// projectors on pseudo-terminals. Tolerances are generous.
#include "tools/sim/pty_projector.h"
#include "tools/sim/run_program.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

#include <sys/stat.h>

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
Run send(const QStringList& args, const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    const sim::ProgramRun run = sim::runWhileServing(QStringLiteral(ORVIK_SEND_PATH), args, 60s, {}, environment);
    if (!run.ended)
        return {};
    return {run.exitCode, QString::fromUtf8(run.out), QString::fromUtf8(run.err)};
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

    // Under systemd, stderr is the journal's stream and each line carries
    // its level; anywhere else it is plain text.
    void messagesCarryTheirLevelToTheJournal()
    {
        QTemporaryDir dir;
        const QString errors = dir.filePath(QStringLiteral("stderr"));
        const auto run = [&](bool journal) {
            QFile(errors).remove();
            QFile file(errors);
            file.open(QIODevice::WriteOnly);
            struct stat info {};
            ::fstat(file.handle(), &info);
            QProcess program;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            if (journal)
                environment.insert(QStringLiteral("JOURNAL_STREAM"),
                                   QStringLiteral("%1:%2").arg(info.st_dev).arg(info.st_ino));
            program.setProcessEnvironment(environment);
            program.setStandardErrorFile(errors, QIODevice::Append);
            program.start(QStringLiteral(ORVIK_SEND_PATH),
                          {QStringLiteral("-p"), QStringLiteral("hall=/dev/orvik-none"), QStringLiteral("status")});
            program.waitForFinished(10000);
            file.close();
            file.open(QIODevice::ReadOnly);
            return QString::fromUtf8(file.readAll());
        };
        QVERIFY2(run(true).startsWith(QLatin1String("<4>orvik-send: hall (/dev/orvik-none): ")), qPrintable(run(true)));
        QVERIFY2(run(false).startsWith(QLatin1String("orvik-send: hall (/dev/orvik-none): ")), qPrintable(run(false)));
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

    void eachRunGetsItsOwnReplies()
    {
        // Answered 300 ms late, more than a hold's period: each step still
        // gets its own ACK, and nothing is left for the next run.
        PtyProjector slow(PtyProjector::Options{.delay = 300ms});
        const Run hold =
            send({QStringLiteral("-p"), slow.devicePath(), QStringLiteral("--json"), QStringLiteral("vol-up:3")});
        QCOMPARE(hold.exitCode, 0);
        QVERIFY2(hold.out.contains(QLatin1String("\"ok\":true")), qPrintable(hold.out));
        const Run status = send({QStringLiteral("-p"), slow.devicePath(), QStringLiteral("status")});
        QCOMPARE(status.out, QStringLiteral("Power ON\n"));
        QCOMPARE(status.exitCode, 0);

        // 700 ms late, past the time-out: the hold fails, and its late ACKs
        // are not the next run's reply.
        PtyProjector late(PtyProjector::Options{.delay = 700ms});
        const Run missed = send({QStringLiteral("-p"), late.devicePath(), QStringLiteral("vol-up:3")});
        QCOMPARE(missed.exitCode, 1);
        QCOMPARE(missed.out, QStringLiteral("no reply to step 1 of 3\n"));
        const Run patient = send({QStringLiteral("-p"), late.devicePath(), QStringLiteral("--timeout"),
                                  QStringLiteral("1000"), QStringLiteral("status")});
        QCOMPARE(patient.out, QStringLiteral("Power ON\n"));

        // Bytes left on the line before a run are no reply; the debug
        // category shows what went out and what came back.
        PtyProjector projector;
        QVERIFY(projector.send(QByteArray("\x06"
                                          "80\r")));
        QProcessEnvironment debug = QProcessEnvironment::systemEnvironment();
        debug.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("orvik.exchange.debug=true"));
        const Run fresh = send({QStringLiteral("-p"), projector.devicePath(), QStringLiteral("status")}, debug);
        QVERIFY2(fresh.out == QStringLiteral("Power ON\n"), qPrintable(fresh.err));
        QCOMPARE(fresh.exitCode, 0);
        QVERIFY2(fresh.err.contains(QLatin1String("orvik-send: sent CR0")), qPrintable(fresh.err));
        QVERIFY2(fresh.err.contains(QLatin1String("orvik-send: reply 0 0 CR after ")), qPrintable(fresh.err));
    }

    void aPortAnotherProgramHoldsIsLeftAlone()
    {
        PtyProjector projector;
        const QString device = projector.devicePath();
        // A running program's lock file, as minicom and cu write it.
        QProcess holder;
        holder.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(holder.waitForStarted());
        const QString lockPath = QStringLiteral("/run/lock/LCK..") + device.mid(5).replace(u'/', u'_');
        QFile lock(lockPath);
        if (!lock.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            QSKIP("cannot write a lock file in /run/lock (run as root, or in the lock group)");
        const QByteArray content = QByteArray::number(holder.processId()).rightJustified(10, ' ') + '\n';
        lock.write(content);
        lock.close();
        const Run refused = send({QStringLiteral("-p"), device, QStringLiteral("power-off")});
        QCOMPARE(refused.exitCode, 3);
        QVERIFY2(refused.err.contains(QStringLiteral("in use by sleep (process %1)").arg(holder.processId())),
                 qPrintable(refused.err));
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QCOMPARE(lock.readAll(), content); // untouched
        lock.close();
        holder.kill();
        holder.waitForFinished();
        // Its process gone, the lock is stale: removed, and the port used.
        QCOMPARE(send({QStringLiteral("-p"), device, QStringLiteral("power-off")}).exitCode, 0);
        QVERIFY(!lock.exists());
        QCOMPARE(projector.received(), QByteArray("C02\r"));

        // picocom locks the open device itself (flock).
        const QString picocom = QStandardPaths::findExecutable(QStringLiteral("picocom"));
        if (picocom.isEmpty())
            QSKIP("picocom is not installed (tools/install-deps.sh test installs it)");
        projector.clearReceived();
        QProcess terminal;
        terminal.start(picocom, {QStringLiteral("-q"), QStringLiteral("-b"), QStringLiteral("19200"), device});
        QVERIFY(terminal.waitForStarted());
        QElapsedTimer waited;
        waited.start();
        Run held;
        do // until picocom has the port
            held = send({QStringLiteral("-p"), device, QStringLiteral("status")});
        while (held.exitCode == 0 && waited.elapsed() < 5000);
        QCOMPARE(held.exitCode, 3);
        QVERIFY2(held.err.contains(QStringLiteral("in use by picocom (process %1)").arg(terminal.processId())),
                 qPrintable(held.err));
        const QByteArray before = projector.received();
        send({QStringLiteral("-p"), device, QStringLiteral("status")});
        QCOMPARE(projector.received(), before); // nothing written while picocom holds it
        terminal.kill();
        terminal.waitForFinished();
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
        // The metrics' reply time is the last question's, not the whole wait.
        QTemporaryDir dir;
        const QString metrics = dir.filePath(QStringLiteral("orvik.prom"));
        send({QStringLiteral("-p"), projector.devicePath(), QStringLiteral("power-off")});
        QCOMPARE(send({QStringLiteral("-p"), QStringLiteral("hall=") + projector.devicePath(),
                       QStringLiteral("--prometheus"), metrics, QStringLiteral("power-on"), QStringLiteral("--until"),
                       QStringLiteral("on")})
                     .exitCode,
                 0);
        QFile file(metrics);
        QVERIFY(file.open(QIODevice::ReadOnly));
        static const QRegularExpression replySeconds(
            QStringLiteral("orvik_reply_seconds\\{projector=\"hall\"\\} ([0-9.]+)"));
        const QRegularExpressionMatch match = replySeconds.match(QString::fromUtf8(file.readAll()));
        QVERIFY(match.hasMatch());
        QVERIFY2(match.captured(1).toDouble() < 1.0, qPrintable(match.captured(1)));

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
