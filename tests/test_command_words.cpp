// The headless programs' command words and the reading of replies.
#include "protocol/command_words.h"
#include "protocol/outcome.h"
#include "protocol/status_queries.h"

#include <QTest>

using namespace orvik;
using namespace std::chrono_literals;

class TestCommandWords : public QObject {
    Q_OBJECT
private slots:
    void wordsGiveTheirFrames_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("frame");
        QTest::addColumn<int>("steps");
        QTest::addColumn<int>("periodMs");
        QTest::newRow("power-on") << "power-on"
                                  << "C00\r" << 1 << 0;
        QTest::newRow("c01") << "c01"
                             << "C01\r" << 1 << 0;
        QTest::newRow("display-clear") << "display-clear"
                                       << "C1E\r" << 1 << 0;
        QTest::newRow("vol-up") << "vol-up"
                                << "C09\r" << 1 << 0;
        QTest::newRow("vol-up:3") << "vol-up:3"
                                  << "C09\r" << 3 << 250;
        QTest::newRow("zoom-down:2") << "zoom-down:2"
                                     << "C31\r" << 2 << 250;
        QTest::newRow("select:2") << "select:2"
                                  << "C3F\r" << 2 << 500;
        QTest::newRow("left:4") << "left:4"
                                << "C3B\r" << 4 << 200;
        QTest::newRow("l-time") << "l-time"
                                << "CR3\r" << 1 << 0;
        QTest::newRow("raw:C8F") << "raw:C8F"
                                 << "C8F\r" << 1 << 0;
        QTest::newRow("raw:CR4") << "raw:CR4"
                                 << "CR4\r" << 1 << 0;
    }
    void wordsGiveTheirFrames()
    {
        QFETCH(QString, text);
        const auto parsed = parseCommand(text);
        if (const QString* error = std::get_if<QString>(&parsed))
            QFAIL(qPrintable(*error));
        const Command& command = std::get<Command>(parsed);
        QTEST(command.frame, "frame");
        QTEST(command.steps, "steps");
        QTEST(int(command.period.count()), "periodMs");
    }

    void everyWordIsTakenAndEveryCodeIsOneOfThePanels()
    {
        QCOMPARE(commandWords().size(), std::size_t(36));
        for (const CommandWord& word : commandWords())
            QVERIFY(std::holds_alternative<Command>(parseCommand(QString::fromLatin1(word.word.data()))));
    }

    void anythingElseIsRefused()
    {
        for (const char* text : {"", "POWER-ON", "power-on:2", "vol-up:0", "vol-up:x", "vol-up:1001", "raw:c1e",
                                 "raw:C1", "raw:C1E\r", "raw:CRX", "raw:C1G", "raw:CR10", "status "})
            QVERIFY2(std::holds_alternative<QString>(parseCommand(QString::fromLatin1(text))), text);
        QVERIFY(std::get<QString>(parseCommand(QStringLiteral("bogus"))).contains(QLatin1String("power-on")));
    }

    void repliesAreReadAsThePanelReadsThem_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("state");
        QTest::newRow("ack") << "power-on" << QByteArray("\x06") << true << "ok"
                             << "";
        QTest::newRow("no reply") << "power-on" << QByteArray() << false << "no reply"
                                  << "";
        QTest::newRow("other") << "power-on" << QByteArray("80\r\n") << false << "8 0 CR LF"
                               << "";
        QTest::newRow("on") << "status" << QByteArray("00\r") << true << "Power ON"
                            << "on";
        QTest::newRow("28") << "status" << QByteArray("28\r") << true << "Temperature abnormality"
                            << "temperature_abnormality";
        QTest::newRow("81") << "status" << QByteArray("81\r") << false << "8 1 CR"
                            << "";
        QTest::newRow("ack first") << "status"
                                   << QByteArray("\x06"
                                                 "00\r")
                                   << false << "ACK 0 0 CR"
                                   << "";
        QTest::newRow("13") << "mode" << QByteArray("13\r") << true << "Computer"
                            << "computer";
        QTest::newRow("reversal") << "setting" << QByteArray("00\r") << true << "Top/Bottom , Left/Right reversal"
                                  << "top_bottom_left_right";
        QTest::newRow("hours") << "l-time" << QByteArray("1234\r") << true << "1234 hours"
                               << "";
        QTest::newRow("hours 5") << "l-time" << QByteArray("5\r") << true << "5 hours"
                                 << "";
        QTest::newRow("hours junk") << "l-time" << QByteArray("12a\r") << false << "1 2 a CR"
                                    << "";
        QTest::newRow("raw query") << "raw:CR7" << QByteArray("xy\r") << true << "x y CR"
                                   << "";
    }
    void repliesAreReadAsThePanelReadsThem()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, reply);
        const Outcome outcome = readReply(std::get<Command>(parseCommand(command)), reply);
        QTEST(outcome.ok, "ok");
        QTEST(resultText(outcome), "result");
        QTEST(outcome.state, "state");
    }
};

QTEST_GUILESS_MAIN(TestCommandWords)
#include "test_command_words.moc"
