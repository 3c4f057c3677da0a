// Which devices COM1 and COM2 are, and what a failed opening tells the user.
#include "link/lock_file.h"
#include "link/open_failure.h"
#include "link/port_map.h"

#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace orvik;
using Kind = OpenFailure::Kind;

class TestPorts : public QObject {
    Q_OBJECT
private slots:
    void lockFilesOfEveryFormatNameTheirHolder_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("pid");
        QTest::addColumn<QString>("program");
        QTest::newRow("FHS, ten digits") << QByteArray("      1234\n") << qint64(1234) << QString();
        QTest::newRow("binary") << QByteArray("\xd2\x04\x00\x00", 4) << qint64(1234) << QString();
        QTest::newRow("Qt's") << QByteArray("1234\norvik-send\nhost\n") << qint64(1234) << QStringLiteral("orvik-send");
        QTest::newRow("empty") << QByteArray() << qint64(0) << QString();
        QTest::newRow("garbage") << QByteArray("x\x01y") << qint64(0) << QString();
        QTest::newRow("negative") << QByteArray("-5\n") << qint64(0) << QString();
    }
    void lockFilesOfEveryFormatNameTheirHolder()
    {
        QFETCH(QByteArray, content);
        QFETCH(qint64, pid);
        QFETCH(QString, program);
        const LockHolder holder = readLockFile(content);
        QCOMPARE(holder.pid, pid);
        QCOMPARE(holder.program, program);
    }

    void theFlockHolderOfADeviceIsFoundInProcLocks()
    {
        const QByteArray locks = "1: POSIX  ADVISORY  WRITE 77 00:1a:3 0 EOF\n"
                                 "2: FLOCK  ADVISORY  WRITE 4321 00:1a:3 0 EOF\n"
                                 "2: -> FLOCK  ADVISORY  WRITE 999 00:1a:3 0 EOF\n"
                                 "3: FLOCK  ADVISORY  WRITE 555 fd:01:3 0 EOF\n";
        QCOMPARE(flockHolder(locks, 0, 0x1a, 3), qint64(4321)); // not the POSIX lock, nor the waiter
        QCOMPARE(flockHolder(locks, 0xfd, 1, 3), qint64(555));
        QCOMPARE(flockHolder(locks, 0, 0x1a, 4), qint64(0));
    }

    void theMachinesPortsAreTakenInAStableOrder_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("com");
        QTest::newRow("no ports") << QStringList{} << QStringList{"/dev/ttyS0", "/dev/ttyS1"};
        QTest::newRow("one USB adapter") << QStringList{"ttyUSB0"} << QStringList{"/dev/ttyUSB0", "/dev/ttyS1"};
        QTest::newRow("ttyS0 and two adapters")
            << QStringList{"ttyUSB1", "ttyACM0", "ttyS0"} << QStringList{"/dev/ttyS0", "/dev/ttyACM0"};
        QTest::newRow("numbers, not letters")
            << QStringList{"ttyUSB10", "ttyUSB2"} << QStringList{"/dev/ttyUSB2", "/dev/ttyUSB10"};
        QTest::newRow("the rest last") << QStringList{"rfcomm0", "ttyAMA0", "ttyUSB3"}
                                       << QStringList{"/dev/ttyUSB3", "/dev/rfcomm0"};
    }
    void theMachinesPortsAreTakenInAStableOrder()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, com);
        QList<PortDescription> ports;
        for (const QString& name : names)
            ports.append({name, QStringLiteral("/dev/") + name});
        const auto chosen = choosePorts({{}, {}, orderedPorts(ports)});
        QCOMPARE((QStringList{chosen[0], chosen[1]}), com);
    }

    void theCommandLineThenTheEnvironmentWin()
    {
        const QStringList found{"/dev/ttyUSB0", "/dev/ttyUSB1"};
        auto chosen = choosePorts({{"/dev/a", ""}, {"/dev/b", "/dev/c"}, found});
        QCOMPARE((QStringList{chosen[0], chosen[1]}), (QStringList{"/dev/a", "/dev/c"}));
        chosen = choosePorts({{"", ""}, {"", "/dev/c"}, found});
        QCOMPARE((QStringList{chosen[0], chosen[1]}), (QStringList{"/dev/ttyUSB0", "/dev/c"}));
    }

    void aPathThatIsNoTextIsResolvedToItsDevice()
    {
        QCOMPARE(devicePathFromBytes("/dev/ttyUSB0"), QStringLiteral("/dev/ttyUSB0"));
        QTemporaryDir dir;
        const QByteArray link = QFile::encodeName(dir.path())
                                + "/proj\xe9"
                                  "ctor";
        QVERIFY(::symlink("/dev/null", link.constData()) == 0);
        // QTemporaryDir cannot remove a name that is no text: remove it here.
        const auto removeLink = qScopeGuard([&link] { ::unlink(link.constData()); });
        QCOMPARE(devicePathFromBytes(link), QStringLiteral("/dev/null"));
    }

    void eachFailureSaysWhatToDoNext_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QStringList>("ports");
        QTest::addColumn<QString>("text");
        const QString dev = QStringLiteral("/dev/ttyUSB0");
        QTest::newRow("missing, none found")
            << 1 << int(Kind::Missing) << QString() << QStringList{}
            << "COM1 (/dev/ttyUSB0): No such file or directory. No serial ports found: plug in the adapter, or "
               "choose a device with --com1 DEVICE or ORVIK_COM1=DEVICE.";
        QTest::newRow("missing, two found")
            << 2 << int(Kind::Missing) << QString() << QStringList{"/dev/ttyS0", "/dev/ttyUSB1"}
            << "COM2 (/dev/ttyUSB0): No such file or directory. Serial ports found: /dev/ttyS0, /dev/ttyUSB1. "
               "Choose one with --com2 DEVICE or ORVIK_COM2=DEVICE.";
        QTest::newRow("no permission")
            << 1 << int(Kind::NoPermission) << "dialout" << QStringList{}
            << "COM1 (/dev/ttyUSB0): Permission denied. The device belongs to the group dialout: join it with "
               "\"sudo usermod -aG dialout ann\", then log out and back in.";
        QTest::newRow("held") << 1 << int(Kind::HeldBy) << "minicom" << QStringList{}
                              << "COM1 (/dev/ttyUSB0): in use by minicom (process 4242). Close that program, or "
                                 "choose another port.";
        QTest::newRow("stale lock")
            << 1 << int(Kind::StaleLock) << "/run/lock/LCK..ttyUSB0" << QStringList{}
            << "COM1 (/dev/ttyUSB0): locked by process 4242, which has ended, and its lock file "
               "/run/lock/LCK..ttyUSB0 cannot be removed. Ask an administrator to delete that file.";
        QTest::newRow("busy") << 1 << int(Kind::Busy) << QString() << QStringList{}
                              << "COM1 (/dev/ttyUSB0): busy: another program has it open. Close that program, "
                                 "or choose another port.";
        QTest::newRow("not serial") << 2 << int(Kind::NotSerial) << QString() << QStringList{}
                                    << "COM2 (/dev/ttyUSB0): is not a serial port. Choose a serial device with "
                                       "--com2 DEVICE or ORVIK_COM2=DEVICE.";
        QTest::newRow("device policy")
            << 1 << int(Kind::DevicePolicy) << "char-ttyAMA" << QStringList{}
            << "COM1 (/dev/ttyUSB0): Operation not permitted by the device policy of the unit that runs this program "
               "(systemd's DevicePolicy=). Add \"DeviceAllow=char-ttyAMA rw\" to the unit (sudo systemctl edit "
               "UNIT), then restart it.";
        QTest::newRow("other, never in use") << 1 << int(Kind::Other) << "File name too long" << QStringList{}
                                             << "COM1 (/dev/ttyUSB0): File name too long";
    }
    void eachFailureSaysWhatToDoNext()
    {
        QFETCH(int, port);
        QFETCH(int, kind);
        QFETCH(QString, detail);
        QFETCH(QStringList, ports);
        QFETCH(QString, text);
        const OpenFailure failure{Kind(kind), detail, 4242, ports};
        QCOMPARE(describeOpenFailure(port, QStringLiteral("/dev/ttyUSB0"), failure, QStringLiteral("ann")), text);
    }
};

QTEST_GUILESS_MAIN(TestPorts)
#include "test_ports.moc"
