// One projector of the service on a simulated projector: what waits stays
// bounded, and whoever gave a command hears of it once, with the state it
// changed already known.
#include "service/projector_node.h"
#include "tools/sim/pty_projector.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace orvik;
using namespace std::chrono_literals;

class TestProjectorNode : public QObject {
    Q_OBJECT
private slots:
    void aFloodOfCommandsKeepsTheQueueBounded()
    {
        sim::PtyProjector projector(sim::PtyProjector::Options{.delay = 20ms}); // slower than the flood
        TimerClock clock;
        ProjectorNode node({QStringLiteral("hall"), projector.devicePath(), 0}, {}, {}, clock);
        node.start();
        QTRY_COMPARE_WITH_TIMEOUT(node.states().value(QStringLiteral("availability")), QStringLiteral("online"), 5000);
        int dropped = 0;
        connect(&node, &ProjectorNode::commandDone, this, [&](const Command&, const Outcome& outcome) {
            dropped += outcome.error.startsWith(QLatin1String("dropped")) ? 1 : 0;
        });
        const Command on = std::get<Command>(parseCommand(QStringLiteral("power-on")));
        const Command video = std::get<Command>(parseCommand(QStringLiteral("input-video")));
        int told = 0;
        const auto tell = [&told](const Outcome&) { ++told; };
        std::size_t most = 0;
        // Each power or input command answered asks its state again at once;
        // under a flood those questions must not pile up behind it.
        for (int i = 0; i < 1000; ++i) {
            node.command(i % 2 ? on : video, tell);
            node.command(i % 2 ? video : on); // nobody to tell
            QTest::qWait(2);
            most = std::max(most, node.waiting());
        }
        QVERIFY2(most <= ProjectorNode::kMaxWaiting + 4, qPrintable(QString::number(most))); // and a poll of each kind
        QVERIFY(dropped > 0); // the oldest commands, said as such
        QTRY_COMPARE_WITH_TIMEOUT(node.waiting(), 0u, 10000);
        QCOMPARE(told, 1000); // every caller, once: dropped, answered, or with a poll taken over by another's
    }

    // The log: a port refused at start is said once, and once more when it
    // opens at last; a loss and a return likewise.
    void aPortsTroublesAreSaidOnceAndSoIsTheirEnd()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("hall"));
        TimerClock clock;
        ProjectorNode node({QStringLiteral("hall"), link, 0}, {}, {}, clock);
        QStringList said;
        connect(&node, &ProjectorNode::problem, this,
                [&](const QString& text) { said << QStringLiteral("problem ") + text; });
        connect(&node, &ProjectorNode::recovered, this,
                [&](const QString& text) { said << QStringLiteral("recovered ") + text; });
        node.start();
        QTest::qWait(2500); // two tries more
        sim::PtyProjector projector;
        QVERIFY(QFile::link(projector.devicePath(), link));
        QTRY_COMPARE_WITH_TIMEOUT(node.states().value(QStringLiteral("availability")), QStringLiteral("online"), 5000);
        QCOMPARE(said.size(), 2);
        QVERIFY2(said[0].startsWith(QStringLiteral("problem hall (%1): No such file or directory.").arg(link)),
                 qPrintable(said[0]));
        QCOMPARE(said[1], QStringLiteral("recovered hall (%1): open").arg(link));
    }

    void aCallerIsToldOnceTheStateItChangedIsKnown()
    {
        sim::PtyProjector projector;
        TimerClock clock;
        ProjectorNode node({QStringLiteral("hall"), projector.devicePath(), 0}, {}, {}, clock);
        node.start();
        QTRY_VERIFY_WITH_TIMEOUT(node.states().contains(QStringLiteral("input")) && node.waiting() == 0, 5000);
        projector.clearReceived();
        std::optional<QString> inputWhenTold;
        QByteArray lineWhenTold;
        node.command(std::get<Command>(parseCommand(QStringLiteral("input-video"))), [&](const Outcome& outcome) {
            QVERIFY(outcome.ok);
            inputWhenTold = node.states().value(QStringLiteral("input"));
            lineWhenTold = projector.received();
        });
        QTRY_VERIFY(inputWhenTold);
        QCOMPARE(*inputWhenTold, QStringLiteral("video"));
        // A round of polls may have begun before it; the question follows the set.
        QVERIFY2(lineWhenTold.endsWith("C07\rCR1\r"), lineWhenTold.constData());
        // Two callers at once: each is told after a question sent after its own command.
        QTRY_COMPARE(node.waiting(), 0u);
        projector.clearReceived();
        std::vector<QString> inputs;
        QByteArray lineWhenFirstTold;
        const Command pc = std::get<Command>(parseCommand(QStringLiteral("input-pc")));
        node.command(pc, [&](const Outcome&) {
            inputs.push_back(node.states().value(QStringLiteral("input")));
            lineWhenFirstTold = projector.received();
        });
        node.command(pc, [&](const Outcome&) { inputs.push_back(node.states().value(QStringLiteral("input"))); });
        QTRY_COMPARE(inputs.size(), 2u);
        QCOMPARE(inputs, std::vector<QString>(2, QStringLiteral("computer")));
        QVERIFY2(lineWhenFirstTold.endsWith("C05\rCR1\r"), lineWhenFirstTold.constData());
        // Mutes cannot be asked: the acknowledged command is the state.
        node.command(std::get<Command>(parseCommand(QStringLiteral("audio-mute-on"))));
        QTRY_COMPARE(node.states().value(QStringLiteral("audio_mute")), QStringLiteral("on"));
        QVERIFY(!node.states().contains(QStringLiteral("video_mute")));
    }

    // While the power changes the status is asked about once a second, and
    // no more often; once two answers agree the poll period is back.
    void aChangingPowerIsFollowedAndThenLeftAlone()
    {
        sim::PtyProjector projector(sim::PtyProjector::Options{.warmUp = 2500ms, .coolDown = 1500ms});
        TimerClock clock;
        // The regular polls out of the way, once they have begun.
        ProjectorNode node({QStringLiteral("hall"), projector.devicePath(), 0}, {}, {.poll = 60s}, clock);
        node.start();
        QTRY_VERIFY_WITH_TIMEOUT(node.states().contains(QStringLiteral("lamp_hours")) && node.waiting() == 0, 5000);
        QElapsedTimer since;
        QList<qint64> statusAt; // when each status question reached the projector
        connect(&projector, &sim::PtyProjector::bytesReceived, this, [&](const QByteArray& bytes) {
            if (bytes.contains("CR0\r"))
                statusAt.append(since.elapsed());
        });
        QStringList powers;
        connect(&node, &ProjectorNode::stateChanged, this, [&](const QString& name, const QString& value) {
            if (name == u"power")
                powers << QStringLiteral("%1@%2").arg(value).arg(since.elapsed() / 500 * 500);
        });
        const auto run = [&](const char* word) {
            since.start();
            statusAt.clear();
            powers.clear();
            node.command(std::get<Command>(parseCommand(QString::fromLatin1(word))));
        };

        run("power-off");
        QTRY_VERIFY_WITH_TIMEOUT(powers.size() == 2, 5000);
        QVERIFY2(powers.first().startsWith(QLatin1String("cooling_down@0")), qPrintable(powers.join(' ')));
        QVERIFY2(powers.last().startsWith(QLatin1String("standby@")), qPrintable(powers.join(' ')));
        QVERIFY(since.elapsed() < 1500 + 1500); // within about a second of the projector

        run("power-on");
        QTRY_VERIFY_WITH_TIMEOUT(node.states().value(QStringLiteral("power")) == u"on", 5000);
        QVERIFY2(since.elapsed() < 2500 + 1500, qPrintable(powers.join(' ')));
        QTest::qWait(2500);
        // At most one status question a second, the first at once.
        for (qsizetype i = 1; i < statusAt.size(); ++i)
            QVERIFY2(statusAt[i] - statusAt[i - 1] >= 950, qPrintable(QString::number(statusAt[i] - statusAt[i - 1])));
        // Warming for 2.5 s, then one more to agree: no more than that.
        QVERIFY2(statusAt.size() <= 6, qPrintable(QString::number(statusAt.size())));
        const qsizetype settled = statusAt.size();
        QTest::qWait(3000);
        QCOMPARE(statusAt.size(), settled); // the poll period again
    }

    void aLentPortIsClosedAfterItsExchangeAndTakenBack()
    {
        sim::PtyProjector projector(sim::PtyProjector::Options{.delay = 200ms});
        TimerClock clock;
        ProjectorNode node({QStringLiteral("hall"), projector.devicePath(), 0}, {}, {}, clock);
        QHash<QString, QString> changes;
        connect(&node, &ProjectorNode::stateChanged, this,
                [&](const QString& name, const QString& value) { changes.insert(name, value); });
        node.start();
        QTRY_VERIFY_WITH_TIMEOUT(node.states().contains(QStringLiteral("lamp_hours")) && !node.waiting(), 5000);
        QTest::qWait(300); // the last poll answered too
        const Command status = std::get<Command>(parseCommand(QStringLiteral("status")));
        std::optional<Outcome> inProgress;
        node.command(status, [&](const Outcome& outcome) { inProgress = outcome; });
        QTest::qWait(50); // on the line, its reply on the way
        bool closed = false;
        node.lend(QStringLiteral("orvik-control (process 7)"), [&] {
            QVERIFY(inProgress && inProgress->ok); // finished first
            closed = true;
        });
        QCOMPARE(changes.value(QStringLiteral("availability")), QStringLiteral("offline"));
        QCOMPARE(changes.value(QStringLiteral("availability_reason")),
                 QStringLiteral("lent to orvik-control (process 7)"));
        QVERIFY(!closed);
        QTRY_VERIFY(closed);
        // Its answer did not bring it back online.
        QCOMPARE(node.states().value(QStringLiteral("availability")), QStringLiteral("offline"));

        std::optional<Outcome> meanwhile;
        node.command(status, [&](const Outcome& outcome) { meanwhile = outcome; });
        QVERIFY(meanwhile); // at once, without the line
        QVERIFY(meanwhile->portFailed);
        QCOMPARE(meanwhile->error, QStringLiteral("lent to orvik-control (process 7)"));

        projector.clearReceived();
        node.takeBack();
        QCOMPARE(changes.value(QStringLiteral("availability_reason")), QString());
        QTRY_COMPARE_WITH_TIMEOUT(node.states().value(QStringLiteral("availability")), QStringLiteral("online"), 3000);
        QVERIFY(projector.received().startsWith("CR0\r")); // polled again at once
    }
};

QTEST_GUILESS_MAIN(TestProjectorNode)
#include "test_projector_node.moc"
