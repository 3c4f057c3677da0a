// The Telnet layer of a device server's connection: what goes out, and what
// comes in split into line data and answers.
#include "link/telnet.h"

#include <QTest>

using namespace orvik;
using namespace orvik::telnet;

namespace {
QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out += char(v);
    return out;
}
} // namespace

class TestTelnet : public QObject {
    Q_OBJECT
private slots:
    void dataGoesOutWithEvery0xFFDoubled()
    {
        QCOMPARE(escape("C00\r"), QByteArray("C00\r"));
        QCOMPARE(escape(bytes({0xFF})), bytes({0xFF, 0xFF}));
        QCOMPARE(escape(bytes({'a', 0xFF, 0xFF, 'b'})), bytes({'a', 0xFF, 0xFF, 0xFF, 0xFF, 'b'}));
    }

    void theLineIsSetByComPortCommands()
    {
        const QByteArray commands = lineCommands({9600, Parity::None, 8, StopBits::One});
        const QByteArray expected = bytes({kIac, kSb, 44, 1, 0,  0,    0x25, 0x80, kIac, kSe, // 9600 baud
                                           kIac, kSb, 44, 2, 8,  kIac, kSe,                   // 8 data bits
                                           kIac, kSb, 44, 3, 1,  kIac, kSe,                   // no parity
                                           kIac, kSb, 44, 4, 1,  kIac, kSe,                   // 1 stop bit
                                           kIac, kSb, 44, 5, 1,  kIac, kSe,                   // no flow control
                                           kIac, kSb, 44, 5, 8,  kIac, kSe,                   // DTR on
                                           kIac, kSb, 44, 5, 12, kIac, kSe});                 // RTS off
        QCOMPARE(commands, expected);
        const QByteArray open = opening({19200, Parity::None, 8, StopBits::One});
        QVERIFY(open.startsWith(bytes({kIac, kWill, kBinary})));
        QVERIFY(open.contains(bytes({kIac, kWill, kComPort})));
        QVERIFY(open.contains(bytes({kIac, kDo, kBinary})));
        QVERIFY(open.endsWith(lineCommands({19200, Parity::None, 8, StopBits::One})));
    }

    void whatComesInIsSplitIntoDataAndAnswers_data()
    {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("plain data") << QByteArray("00\r") << QByteArray("00\r") << QByteArray();
        QTest::newRow("a doubled 0xFF is one byte")
            << bytes({'1', 0xFF, 0xFF, '2'}) << bytes({'1', 0xFF, '2'}) << QByteArray();
        QTest::newRow("notifications are skipped")
            << bytes({'a', kIac, kSb, 44, 107, 0x30, kIac, kIac, kIac, kSe, 'b'}) << QByteArray("ab") << QByteArray();
        QTest::newRow("NOP and GA are ignored")
            << bytes({'a', kIac, 241, kIac, 249, 'b'}) << QByteArray("ab") << QByteArray();
        QTest::newRow("unknown options are refused")
            << bytes({kIac, kDo, 1, kIac, kWill, 24}) << QByteArray() << bytes({kIac, kWont, 1, kIac, kDont, 24});
        QTest::newRow("each answer once")
            << bytes({kIac, kDo, 1, kIac, kDo, 1, 'x'}) << QByteArray("x") << bytes({kIac, kWont, 1});
        QTest::newRow("what was offered needs no answer")
            << bytes({kIac, kDo, kBinary, kIac, kDo, kComPort, kIac, kWill, kBinary}) << QByteArray() << QByteArray();
        QTest::newRow("the server's own options are taken")
            << bytes({kIac, kWill, kComPort}) << QByteArray() << bytes({kIac, kDo, kComPort});
        QTest::newRow("a subnegotiation cut off swallows what follows")
            << bytes({'a', kIac, kSb, 44, 1, 2, 3, 'b', 'c'}) << QByteArray("a") << QByteArray();
    }
    void whatComesInIsSplitIntoDataAndAnswers()
    {
        QFETCH(QByteArray, in);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, reply);
        Decoder whole;
        QByteArray answers;
        QCOMPARE(whole.feed(in, &answers), data);
        QCOMPARE(answers, reply);
        // Byte by byte, as a server's pieces may fall: the same.
        Decoder pieces;
        QByteArray got, pieceAnswers;
        for (const char c : in)
            got += pieces.feed(QByteArray(1, c), &pieceAnswers);
        QCOMPARE(got, data);
        QCOMPARE(pieceAnswers, reply);
    }
};

QTEST_GUILESS_MAIN(TestTelnet)
#include "test_telnet.moc"
