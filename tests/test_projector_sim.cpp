// The simulated projector: its answers, and its pty.
#include "tools/sim/projector_model.h"
#include "tools/sim/pty_projector.h"

#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using orvik::sim::ProjectorModel;
using orvik::sim::PtyProjector;

class TestProjectorSim : public QObject {
    Q_OBJECT
private slots:
    void answersQueriesFromItsState()
    {
        ProjectorModel m;
        QCOMPARE(m.feed("CR0\r"), QList<QByteArray>{"00\r"});
        QCOMPARE(m.feed("C02\r"), QList<QByteArray>{"\x06"});
        QCOMPARE(m.feed("CR0\r"), QList<QByteArray>{"80\r"});
        QCOMPARE(m.feed("C07\rCR1\r"), (QList<QByteArray>{"\x06", "3\r"}));
        QCOMPARE(m.feed("C05\rCR1\r"), (QList<QByteArray>{"\x06", "1\r"}));
        QCOMPARE(m.feed("CR3\r"), QList<QByteArray>{"1234\r"});
        m.setHours(7);
        QCOMPARE(m.feed("CR3\r"), QList<QByteArray>{"0007\r"});
        QCOMPARE(m.feed("CR4\r"), QList<QByteArray>{"11\r"});
    }

    void framesMayArriveInPieces()
    {
        ProjectorModel m;
        QVERIFY(m.feed("C").isEmpty());
        QVERIFY(m.feed("R0").isEmpty());
        QCOMPARE(m.feed("\r"), QList<QByteArray>{"00\r"});
    }

    void garbageGetsNoAnswer()
    {
        ProjectorModel m;
        QVERIFY(m.feed("hello\r").isEmpty());
        QVERIFY(m.feed("Cxy\r").isEmpty());
        QVERIFY(m.feed(QByteArray(100000, 'x') + "\r").isEmpty());
        QCOMPARE(m.feed("C00\r"), QList<QByteArray>{"\x06"});
    }

    void answersOverThePty()
    {
        PtyProjector projector;
        QVERIFY2(projector.isValid(), qPrintable(projector.errorString()));
        const int fd = ::open(projector.devicePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "CR0\r", 4), 4);
        QByteArray reply;
        const auto readSome = [&] {
            char buffer[16];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0)
                reply.append(buffer, n);
            return reply;
        };
        QTRY_COMPARE(readSome(), QByteArray("00\r"));
        QCOMPARE(projector.received(), QByteArray("CR0\r"));
        ::close(fd);
    }
};

QTEST_GUILESS_MAIN(TestProjectorSim)
#include "test_projector_sim.moc"
