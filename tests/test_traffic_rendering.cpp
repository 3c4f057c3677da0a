// How frames and replies appear on the TXD and RXD lines.
#include "protocol/traffic_rendering.h"

#include <QTest>

using orvik::renderTraffic;

class TestTrafficRendering : public QObject {
    Q_OBJECT
private slots:
    void rendersTokens_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("frame") << QStringLiteral("C00\r") << QStringLiteral(" C 0 0 CR ");
        QTest::newRow("ack") << QString(QChar(6)) << QStringLiteral(" ACK ");
        QTest::newRow("crlf") << QStringLiteral("80\r\n") << QStringLiteral(" 8 0 CR LF  ");
        QTest::newRow("empty") << QString() << QStringLiteral(" ");
        QTest::newRow("space") << QStringLiteral(" ") << QStringLiteral("   ");
        QTest::newRow("z") << QStringLiteral("z") << QStringLiteral(" z ");
        QTest::newRow("brace") << QStringLiteral("{") << QStringLiteral(" ? ");
        QTest::newRow("tilde") << QStringLiteral("~") << QStringLiteral(" ? ");
        QTest::newRow("del") << QString(QChar(127)) << QStringLiteral(" ? ");
        QTest::newRow("tab") << QStringLiteral("\t") << QStringLiteral(" ? ");
        QTest::newRow("nul") << QString(QChar(0)) << QStringLiteral(" ? ");
        QTest::newRow("latin1") << QString(QChar(0xFF)) << QStringLiteral(" ? ");
        QTest::newRow("beyond latin1") << QString(QChar(0x3042)) << QStringLiteral(" ? ");
        QTest::newRow("markup stays text") << QStringLiteral("<b>") << QStringLiteral(" < b > ");
    }
    void rendersTokens()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(renderTraffic(text), shown);
    }

    void everyCharacterGivesExactlyOneToken()
    {
        for (int code = 0; code < 0x10000; code += (code < 256 ? 1 : 97)) {
            const QString shown = renderTraffic(QString(QChar(char16_t(code))));
            const int expected = code == 6 ? 5 : code == 13 ? 4 : code == 10 ? 5 : 3;
            QCOMPARE(shown.size(), expected);
            QVERIFY(shown.startsWith(u' '));
            for (const QChar c : shown)
                QVERIFY2(c.unicode() >= 32 && c.unicode() <= 122, qPrintable(QString::number(code)));
        }
    }
};

QTEST_GUILESS_MAIN(TestTrafficRendering)
#include "test_traffic_rendering.moc"
