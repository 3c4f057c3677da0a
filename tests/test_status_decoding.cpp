// The decode step: the start of the RXD line after each status query.
#include "protocol/command_set.h"
#include "protocol/status_queries.h"
#include "protocol/traffic_rendering.h"

#include <QTest>

using namespace orvik;

namespace {
// What the status line would get after the query, for a reply as received.
std::optional<QString> after(const char* query, const QString& reply)
{
    return decodeStatus(commandFrame(query), renderTraffic(reply));
}
} // namespace

class TestStatusDecoding : public QObject {
    Q_OBJECT
private slots:
    void decodesEachTable_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("status");
        const auto row = [](const char* q, const char* r, const char* s) {
            QTest::newRow((QByteArray(q) + " " + r).constData())
                << QString::fromLatin1(q) << QString::fromLatin1(r) + u'\r' << QString::fromLatin1(s);
        };
        row("CR0", "00", " Power ON");
        row("CR0", "80", " Stand by");
        row("CR0", "40", " Count down");
        row("CR0", "20", " Cooling down");
        row("CR0", "10", " Power abnormality");
        row("CR0", "88", " Temperature abnormality");
        row("CR0", "28", " Temperature abnormality");
        row("CR0", "02", " Key input prohibition");
        row("CR1", "1", " Computer");
        row("CR1", "3", " Video");
        row("CR1", "13", " Computer");
        row("CR4", "11", " Normally");
        row("CR4", "10", " Top/Bottom reversal");
        row("CR4", "01", " Left/Right reversal");
        row("CR4", "00", " Top/Bottom , Left/Right reversal");
        row("CR3", "1234", " 1 2 3 4 Hour Use");
        row("CR3", "123456", " 1 2 3 4 Hour Use");
        row("CR3", "5", " 5 CR  Hour Use");
    }
    void decodesEachTable()
    {
        QFETCH(QString, query);
        QFETCH(QString, reply);
        QFETCH(QString, status);
        QCOMPARE(after(query.toLatin1().constData(), reply), std::optional<QString>(status));
    }

    void theSameReplyMeansWhatItsQueryAsked()
    {
        QCOMPARE(after("CR0", QStringLiteral("00\r")), QStringLiteral(" Power ON"));
        QCOMPARE(after("CR4", QStringLiteral("00\r")), QStringLiteral(" Top/Bottom , Left/Right reversal"));
    }

    void unknownRepliesWriteNothing()
    {
        QCOMPARE(after("CR0", QStringLiteral("81\r")), std::nullopt);
        QCOMPARE(after("CR1", QStringLiteral("2\r")), std::nullopt);
        QCOMPARE(after("CR4", QStringLiteral("12\r")), std::nullopt);
        // A reply behind an ACK is not at the start of the line.
        QCOMPARE(after("CR0", QString(QChar(6)) + QStringLiteral("00\r")), std::nullopt);
    }

    void aReplyInPiecesMatchesOnceItsKeyIsWhole()
    {
        QCOMPARE(after("CR0", QStringLiteral("0")), std::nullopt);
        QCOMPARE(after("CR0", QStringLiteral("00\r")), QStringLiteral(" Power ON"));
        QCOMPARE(after("CR3", QStringLiteral("12")), QStringLiteral(" 1 2  Hour Use"));
    }

    void nothingIsDecodedAfterAnyOtherFrame()
    {
        for (const char* code : {"C00", "C01", "C09", "C1C", "C3F", "C89", "CR2"})
            QCOMPARE(decodeStatus(commandFrame(code), QStringLiteral(" 0 0 CR ")), std::nullopt);
        QCOMPARE(decodeStatus(QStringLiteral("CR0"), QStringLiteral(" 0 0 CR ")), std::nullopt);
        QCOMPARE(decodeStatus(QStringLiteral("cr0\r"), QStringLiteral(" 0 0 CR ")), std::nullopt);
        QCOMPARE(decodeStatus(QString(), QStringLiteral(" 0 0 CR ")), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestStatusDecoding)
#include "test_status_decoding.moc"
