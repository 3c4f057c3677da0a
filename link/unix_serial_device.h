#pragma once

#include "link/reconnecting_device.h"

#include <QByteArray>

#include <optional>

class QSocketNotifier;

namespace orvik {

// A local serial port on a Unix system, on the system calls themselves: no
// flow control, DTR asserted, RTS not. Reading and writing never wait. A
// read or write error, or a hang-up, while open means the device is gone (a
// pulled adapter, the far end of a pty closed): the port is closed at once
// and tried again as a reconnecting device does. A pty is tried again only
// through a link its owner has made anew: a pty's number is handed to the
// next program that asks for one, someone's terminal as likely as not.
//
// One program on a line at a time, as the other serial programs agree on
// it: a lock file in /run/lock naming this process, a flock() on the device
// (root ignores exclusive mode), and exclusive mode (TIOCEXCL).
class UnixSerialDevice final : public ReconnectingDevice {
    Q_OBJECT
public:
    explicit UnixSerialDevice(QObject* parent = nullptr);
    ~UnixSerialDevice() override;

    // A symlink as it was when the port opened through it.
    struct LinkStamp {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 changedNs = 0;
        bool operator==(const LinkStamp&) const = default;
    };

private:
    bool connectLine(OpenFailure* why) override;
    void reconnectLine() override;
    void disconnectLine() override;
    bool applyLine(const LineSettings& settings) override;
    qsizetype waitingOut() const override;
    bool writeLine(const QByteArray& bytes) override;
    void discardLineInput() override;

    bool openDevice(const QString& device, OpenFailure* why);
    void readAvailable();
    void writePending();
    void fail(int error);
    void release();

    int fd_ = -1;
    QString lockFile_;                  // ours while the port is open
    QByteArray pending_;                // taken, and not yet in the driver
    QSocketNotifier* reader_ = nullptr; // children, for as long as the descriptor is open
    QSocketNotifier* writer_ = nullptr;
    // Set when the port opened a pty: the link it was reached through (no
    // value for a bare /dev/pts/N), as the link was then.
    std::optional<std::optional<LinkStamp>> ptyLink_;
};

} // namespace orvik
