// The serial control on a real pseudo-terminal: bytes, line settings,
// a port held by another program, a missing device, a far end that goes.
#include "serial/mscomm.h"
#include "serial/qt_serial_device.h"
#include "tools/sim/pty_projector.h"

#include <QFile>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <termios.h>
#include <unistd.h>

using namespace orvik;
using sim::PtyProjector;

namespace {

struct Port {
    explicit Port(const QString& path)
        : comm(std::make_unique<QtSerialDevice>(), [path](int) { return path; }, failure)
    {
    }
    QtSerialDevice& device() { return static_cast<QtSerialDevice&>(comm.device()); }
    Failure failure;
    MSComm comm;
};

PtyProjector::Options silent()
{
    PtyProjector::Options o;
    o.silent = true;
    return o;
}

termios lineOf(const PtyProjector& far)
{
    termios tio{};
    ::tcgetattr(far.masterFd(), &tio); // the terminal side's settings
    return tio;
}

} // namespace

class TestSerialPort : public QObject {
    Q_OBJECT
private slots:
    void framesReachTheLineByteForByte()
    {
        PtyProjector far(silent());
        Port port(far.devicePath());
        port.comm.setSettings(QStringLiteral("19200,N,8,1"));
        port.comm.setPortOpen(true);
        QVERIFY2(port.comm.portOpen(), qPrintable(port.failure.description));
        QCOMPARE(port.failure.number, 0);
        QVERIFY(port.comm.setOutput(QStringLiteral("C00\r")));
        QVERIFY(port.comm.setOutput(QString(QChar(0xE9)) + QChar(0x3042)));
        QTRY_COMPARE(far.received(), QByteArray("C00\r\xE9?"));
    }

    void theLineRunsAtTheChosenSpeed8N1()
    {
        PtyProjector far(silent());
        Port port(far.devicePath());
        port.comm.setSettings(QStringLiteral("19200,N,8,1"));
        port.comm.setPortOpen(true);
        QVERIFY(port.comm.portOpen());
        termios tio = lineOf(far);
        QCOMPARE(cfgetospeed(&tio), speed_t(B19200));
        QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
        QCOMPARE(tio.c_iflag & (IXON | IXOFF), tcflag_t(0));

        port.comm.setSettings(QStringLiteral("9600,N,8,1")); // open: at once
        QCOMPARE(port.failure.number, 0);
        tio = lineOf(far);
        QCOMPARE(cfgetospeed(&tio), speed_t(B9600));
        QCOMPARE(cfgetispeed(&tio), speed_t(B9600));
        port.comm.setSettings(QStringLiteral("19200,N,8,1"));
        tio = lineOf(far);
        QCOMPARE(cfgetospeed(&tio), speed_t(B19200));
    }

    void everyByteArrivesAsOneCharacter()
    {
        PtyProjector far(silent());
        Port port(far.devicePath());
        port.comm.setPortOpen(true);
        QVERIFY(port.comm.portOpen());
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all += char(b);
        QString got;
        connect(&port.comm, &MSComm::OnComm, this, [&] {
            if (port.comm.commEvent() == MSComm::kReceiveEvent)
                got += port.comm.input();
        });
        QVERIFY(far.send(all));
        QTRY_COMPARE(got.size(), 256);
        for (int b = 0; b < 256; ++b)
            QCOMPARE(int(got[b].unicode()), b);
        QCOMPARE(port.comm.input(), QString());
    }

    void aPortHeldElsewhereIsReportedForWhatItIs()
    {
        PtyProjector far(silent());
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("projector"));
        QVERIFY(QFile::link(far.devicePath(), link));

        Port holder(link); // through the symlink
        holder.comm.setPortOpen(true);
        QVERIFY(holder.comm.portOpen());

        Port second(far.devicePath()); // the target itself: the same lock
        second.comm.setPortOpen(true);
        QVERIFY(!second.comm.portOpen());
        QCOMPARE(second.failure.number, int(CommFailure::PortOpenFailed));
        QCOMPARE(second.failure.description,
                 QStringLiteral("COM1 (%1): in use by another program, or no permission to use the device")
                     .arg(far.devicePath()));

        holder.comm.setPortOpen(false);
        second.failure.clear();
        second.comm.setPortOpen(true);
        QVERIFY(second.comm.portOpen());
    }

    void aMissingDeviceIsReportedWithTheSystemsReason()
    {
        Port port(QStringLiteral("/dev/orvik-no-such-port"));
        port.comm.setPortOpen(true);
        QVERIFY(!port.comm.portOpen());
        QCOMPARE(port.failure.description,
                 QStringLiteral("COM1 (/dev/orvik-no-such-port): No such file or directory"));
        QVERIFY(!port.comm.setOutput(QStringLiteral("C00\r")));
    }

    void theControlsOwnRulesFailWithoutHarm()
    {
        PtyProjector far(silent());
        Port port(far.devicePath());
        port.comm.setSettings(QStringLiteral("banana"));
        QCOMPARE(port.failure.number, int(CommFailure::InvalidPropertyValue));
        QCOMPARE(port.comm.settings(), QStringLiteral("9600,N,8,1"));
        port.failure.clear();
        port.comm.setPortOpen(true);
        port.comm.setCommPort(2);
        QCOMPARE(port.failure.number, int(CommFailure::PortAlreadyOpen));
        QCOMPARE(port.comm.commPort(), 1);
        port.comm.setPortOpen(false);
        port.comm.setPortOpen(false); // closing a closed port is fine
        QVERIFY(!port.comm.portOpen());
    }

    // A send never waits for the line: what the device cannot take now is
    // queued behind what it took, and later sends queue behind that.
    void sendsThatOutrunTheLineArriveWholeAndInOrder()
    {
        PtyProjector::Options passive;
        passive.listen = false; // nobody reads until the end of the test
        PtyProjector far(passive);
        Port port(far.devicePath());
        port.comm.setPortOpen(true);
        QVERIFY(port.comm.portOpen());

        QByteArray sent;
        const auto send = [&](int i) {
            const QString frame = QStringLiteral("C%1\r").arg(i % 256, 2, 16, QLatin1Char('0')).toUpper();
            QVERIFY(port.comm.setOutput(frame));
            sent += frame.toLatin1();
        };
        int i = 0;
        while (port.device().port().bytesToWrite() == 0 && i < 1'000'000) // until the line is full
            send(i++);
        QVERIFY(port.device().port().bytesToWrite() > 0);
        QByteArray arrived;
        const auto readSome = [&] {
            char buffer[4096];
            for (ssize_t n; (n = ::read(far.masterFd(), buffer, sizeof buffer)) > 0;)
                arrived.append(buffer, n);
        };
        readSome(); // the device has room again, but the queue goes first
        for (const int end = i + 100; i < end; ++i)
            send(i);

        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                readSome();
                return arrived.size() >= sent.size();
            }(),
            10000);
        QCOMPARE(arrived, sent);
        QVERIFY(port.comm.portOpen());
    }

    void aFarEndThatGoesAwayClosesThePortWithoutSpinning()
    {
        auto far = std::make_unique<PtyProjector>(silent());
        Port port(far->devicePath());
        port.comm.setPortOpen(true);
        QVERIFY(port.comm.portOpen());
        QSignalSpy errors(&port.device().port(), &QSerialPort::errorOccurred);
        QSignalSpy lost(&port.device(), &SerialDevice::lost);
        int events = 0;
        connect(&port.comm, &MSComm::OnComm, this, [&] { ++events; });

        far->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!port.comm.portOpen(), 5000);
        QCOMPARE(lost.size(), 1);
        QTest::qWait(300);
        QVERIFY2(errors.size() < 10, qPrintable(QString::number(errors.size())));
        QVERIFY(events <= 2);
        QVERIFY(!port.comm.setOutput(QStringLiteral("C00\r")));
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "test_serial_port.moc"
