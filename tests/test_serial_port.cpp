// The serial control on a real pseudo-terminal: bytes, line settings,
// a port held by another program, a missing device, a far end that goes.
#include "link/unix_serial_device.h"
#include "panel/mscomm.h"
#include "tools/sim/pty_projector.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace orvik;
using sim::PtyProjector;

namespace {

struct Port {
    explicit Port(const QString& path)
        : comm(
            std::make_unique<UnixSerialDevice>(), [path](int) { return path; }, failure)
    {
    }
    UnixSerialDevice& device() { return static_cast<UnixSerialDevice&>(comm.device()); }
    Failure failure;
    MSComm comm;
};

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
        PtyProjector far(PtyProjector::Options{.silent = true});
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
        PtyProjector far(PtyProjector::Options{.silent = true});
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

        port.comm.setSettings(QStringLiteral("14400,E,7,2")); // a speed termios has no name for
        QCOMPARE(port.failure.number, 0);
        tio = lineOf(far);
        QVERIFY(tio.c_cflag & CSTOPB); // a pty keeps 8 data bits and no parity whatever it is told
    }

    void everyByteArrivesAsOneCharacter()
    {
        PtyProjector far(PtyProjector::Options{.silent = true});
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
        PtyProjector far(PtyProjector::Options{.silent = true});
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("projector"));
        QVERIFY(QFile::link(far.devicePath(), link));

        Port holder(link); // through the symlink
        holder.comm.setPortOpen(true);
        QVERIFY(holder.comm.portOpen());

        // The lock names us as a Qt program would, so that one leaves it be.
        QSerialPort qtProgram(far.devicePath());
        QVERIFY(!qtProgram.open(QIODevice::ReadWrite));
        QCOMPARE(qtProgram.error(), QSerialPort::PermissionError);
        const QString lockFile = QStringLiteral("/run/lock/LCK..") + far.devicePath().mid(5).replace(u'/', u'_');
        const bool inRunLock = QFileInfo(QStringLiteral("/run/lock")).isWritable();
        if (inRunLock) {
            QFile lock(lockFile);
            QVERIFY(lock.open(QIODevice::ReadOnly));
            QVERIFY(lock.readAll().startsWith(QByteArray::number(QCoreApplication::applicationPid())
                                              + "\ntest_serial_port\n"));
        }

        Port second(far.devicePath()); // the target itself: the same lock
        second.comm.setPortOpen(true);
        QVERIFY(!second.comm.portOpen());
        QCOMPARE(second.failure.number, int(CommFailure::PortOpenFailed));
        QCOMPARE(second.failure.description,
                 QStringLiteral("COM1 (%1): in use by test_serial_port (process %2). Close that program, "
                                "or choose another port.")
                     .arg(far.devicePath())
                     .arg(QCoreApplication::applicationPid()));

        holder.comm.setPortOpen(false);
        QVERIFY(!inRunLock || !QFile::exists(lockFile));
        second.failure.clear();
        second.comm.setPortOpen(true);
        QVERIFY(second.comm.portOpen());
    }

    void anotherProgramsLockFileIsHonouredAndKept()
    {
        PtyProjector far;
        QProcess holder; // a running program of the FHS kind (minicom, cu)
        holder.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(holder.waitForStarted());
        QFile lock(QStringLiteral("/run/lock/LCK..") + far.devicePath().mid(5).replace(u'/', u'_'));
        if (!lock.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            QSKIP("cannot write a lock file in /run/lock (run as root, or in the lock group)");
        const QByteArray content = QByteArray::number(holder.processId()).rightJustified(10, ' ') + '\n';
        lock.write(content);
        lock.close();

        Port port(far.devicePath());
        port.comm.setPortOpen(true);
        QVERIFY(!port.comm.portOpen());
        QCOMPARE(port.failure.description,
                 QStringLiteral("COM1 (%1): in use by sleep (process %2). Close that program, or choose another port.")
                     .arg(far.devicePath())
                     .arg(holder.processId()));
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QCOMPARE(lock.readAll(), content);
        lock.close();
        QVERIFY(lock.remove());
        holder.kill();
        holder.waitForFinished();
    }

    void aMissingDeviceIsReportedWithTheSystemsReason()
    {
        Port port(QStringLiteral("/dev/orvik-no-such-port"));
        port.comm.setPortOpen(true);
        QVERIFY(!port.comm.portOpen());
        QVERIFY2(port.failure.description.startsWith(
                     QStringLiteral("COM1 (/dev/orvik-no-such-port): No such file or directory. ")),
                 qPrintable(port.failure.description));
        QVERIFY(port.failure.description.endsWith(QStringLiteral(" --com1 DEVICE or ORVIK_COM1=DEVICE.")));
        QVERIFY(!port.comm.setOutput(QStringLiteral("C00\r")));
    }

    void theControlsOwnRulesFailWithoutHarm()
    {
        PtyProjector far(PtyProjector::Options{.silent = true});
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
    // queued behind what it took. A line that stops taking bytes holds at
    // most the device's own buffer and 512 bytes more; frames beyond that
    // are dropped whole, and what was taken arrives whole and in order.
    void aStalledLineHoldsOnlyTheBuffersWorth()
    {
        PtyProjector::Options passive;
        passive.listen = false; // nobody reads until the end of the test
        PtyProjector far(passive);
        Port port(far.devicePath());
        port.comm.setPortOpen(true);
        QVERIFY(port.comm.portOpen());

        QByteArray taken;
        int refused = 0;
        for (int i = 0; i < 20'000; ++i) { // 80 kB, far more than any buffer
            const QString frame = QStringLiteral("C%1\r").arg(i % 256, 2, 16, QLatin1Char('0')).toUpper();
            if (port.comm.setOutput(frame))
                taken += frame.toLatin1();
            else
                ++refused;
            if (i % 100 == 0)
                QCoreApplication::processEvents();
        }
        QVERIFY(refused > 0);

        // What a pty of this machine holds unread, measured on one of its own.
        PtyProjector probe(passive);
        const int fd = ::open(QFile::encodeName(probe.devicePath()).constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY);
        QVERIFY(fd >= 0);
        termios raw{};
        ::tcgetattr(fd, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(fd, TCSANOW, &raw);
        qsizetype capacity = 0;
        // The kernel moves what a pty holds into its line discipline's
        // buffer a little later: full means full after a pause too.
        for (qsizetype before = -1; capacity != before; QTest::qWait(50)) {
            before = capacity;
            for (ssize_t n; (n = ::write(fd, "C00\r", 4)) > 0;)
                capacity += n;
        }
        ::close(fd);

        QByteArray arrived;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                char buffer[4096];
                for (ssize_t n; (n = ::read(far.masterFd(), buffer, sizeof buffer)) > 0;)
                    arrived.append(buffer, n);
                return arrived.size() >= taken.size();
            }(),
            10000);
        QCOMPARE(arrived, taken);
        QVERIFY2(arrived.size() <= capacity + SerialDevice::kOutBufferSize,
                 qPrintable(QStringLiteral("%1 > %2 + 512").arg(arrived.size()).arg(capacity)));
        QVERIFY(port.comm.setOutput(QStringLiteral("C00\r"))); // room again
    }

    // The far end goes (a pulled adapter): the port stays open but lost,
    // without spinning, and takes frames again once a device is back at
    // the same path.
    void aLostDeviceComesBackAtTheSamePath()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("projector"));
        auto far = std::make_unique<PtyProjector>(PtyProjector::Options{.silent = true});
        QVERIFY(QFile::link(far->devicePath(), link));
        Port port(link);
        port.comm.setPortOpen(true);
        QVERIFY(port.comm.portOpen());
        const std::clock_t cpuBefore = std::clock();
        QSignalSpy lost(&port.device(), &SerialDevice::lost);
        int events = 0;
        connect(&port.comm, &MSComm::OnComm, this, [&] { ++events; });

        far->hangUp();
        QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 5000);
        // Gone from its path, as a pulled adapter is (the pty's own name
        // may be handed to another test's pty meanwhile).
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("nothing")), link));
        QTest::qWait(1500); // a retry or so against nothing
        const double cpuSeconds = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
        QVERIFY2(cpuSeconds < 0.5, qPrintable(QString::number(cpuSeconds))); // no spinning
        QVERIFY(events <= 2);
        QVERIFY(port.comm.portOpen()); // open but lost
        QVERIFY(!port.comm.setOutput(QStringLiteral("C00\r")));

        far = std::make_unique<PtyProjector>(PtyProjector::Options{.silent = true});
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(far->devicePath(), link));
        QTRY_VERIFY_WITH_TIMEOUT(!port.device().isLost(), 5000);
        QVERIFY(port.comm.setOutput(QStringLiteral("C00\r")));
        QTRY_COMPARE(far->received(), QByteArray("C00\r"));
        QCOMPARE(lost.size(), 1);
    }

    // The next pty takes the lost one's number: another program's, never
    // ours, whether it was named bare or through a link nobody made again.
    void aLostPtyIsNotTakenBackByItsNumber_data()
    {
        QTest::addColumn<bool>("throughLink");
        QTest::newRow("bare /dev/pts/N") << false;
        QTest::newRow("a link left as it was") << true;
    }
    void aLostPtyIsNotTakenBackByItsNumber()
    {
        QFETCH(bool, throughLink);
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("projector"));
        auto far = std::make_unique<PtyProjector>(PtyProjector::Options{.silent = true});
        const QString number = far->devicePath();
        QVERIFY(!throughLink || QFile::link(number, link));
        Port port(throughLink ? link : number);
        port.comm.setPortOpen(true);
        QVERIFY(port.comm.portOpen());
        QSignalSpy lost(&port.device(), &SerialDevice::lost);
        far->hangUp();
        QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 5000);
        far.reset();
        // The kernel hands out the lowest free number; another test may take it first.
        for (int i = 0; i < 20 && (!far || far->devicePath() != number); ++i)
            far = std::make_unique<PtyProjector>(PtyProjector::Options{.silent = true});
        if (far->devicePath() != number)
            QSKIP("the lost pty's number went to another program");
        QTest::qWait(2500); // two retries or so
        QVERIFY(port.device().isLost());
        QVERIFY(!port.comm.setOutput(QStringLiteral("C00\r")));
        QCOMPARE(far->received(), QByteArray());
    }

    void devicesThatAreNoSerialPortsAreRefusedUntouched()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("plain")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        for (const QString& path : {QStringLiteral("/dev/ptmx"), QStringLiteral("/dev/tty"),
                                    QStringLiteral("/dev/null"), dir.path(), file.fileName()}) {
            Port port(path);
            port.comm.setPortOpen(true);
            QVERIFY2(!port.comm.portOpen(), qPrintable(path));
            QCOMPARE(port.failure.description.section(QStringLiteral(": "), 1, 1).section(u'.', 0, 0),
                     QStringLiteral("is not a serial port"));
        }
        QCOMPARE(file.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "test_serial_port.moc"
