// The settings string of the serial control.
#include "link/line_settings.h"

#include <QTest>

using namespace orvik;

class TestLineSettings : public QObject {
    Q_OBJECT
private slots:
    void parsesThePanelsTwoSettings()
    {
        QCOMPARE(parseLineSettings(u"19200,N,8,1"), (LineSettings{19200, Parity::None, 8, StopBits::One}));
        QCOMPARE(parseLineSettings(u"9600,N,8,1"), (LineSettings{9600, Parity::None, 8, StopBits::One}));
    }

    void acceptsOtherValidForms()
    {
        QCOMPARE(parseLineSettings(u" 4800 , e , 7 , 2 "), (LineSettings{4800, Parity::Even, 7, StopBits::Two}));
        QCOMPARE(parseLineSettings(u"115200,O,5,1.5"), (LineSettings{115200, Parity::Odd, 5, StopBits::OneAndHalf}));
    }

    void rejectsMalformedStrings_data()
    {
        QTest::addColumn<QString>("text");
        for (const char* bad : {"", ",,,", "19200,N,8", "19200,N,8,1,1", "19201,N,8,1", "-9600,N,8,1", "9600,X,8,1",
                                "9600,NN,8,1", "9600,N,9,1", "9600,N,3,1", "9600,N,8,3", "9600,N,8,1.", "0x2580,N,8,1",
                                "99999999999999999999,N,8,1", "9600;N;8;1"})
            QTest::newRow(bad) << QString::fromLatin1(bad);
    }
    void rejectsMalformedStrings()
    {
        QFETCH(QString, text);
        QVERIFY(!parseLineSettings(text));
    }

    void formatsBackTheSameString()
    {
        for (const char* text : {"19200,N,8,1", "9600,N,8,1", "1200,E,7,2", "57600,S,6,1.5"})
            QCOMPARE(formatLineSettings(*parseLineSettings(QString::fromLatin1(text))), QString::fromLatin1(text));
    }
};

QTEST_GUILESS_MAIN(TestLineSettings)
#include "test_line_settings.moc"
