#pragma once

#include "link/reconnecting_device.h"

#include <QByteArray>

#include <memory>

class QWinEventNotifier;

namespace orvik {

// A local serial port on Windows, through the communications API: the port
// opened for overlapped reads and writes, each completion woken by an event
// on the event loop; no thread, no polling. 8 data bits, no parity, 1 stop
// bit by the settings, no flow control, DTR asserted, RTS not. A failed
// read or write means the device is gone (a USB adapter pulled out).
class WinSerialDevice final : public ReconnectingDevice {
    Q_OBJECT
public:
    explicit WinSerialDevice(QObject* parent = nullptr);
    ~WinSerialDevice() override;

private:
    struct Io;

    bool connectLine(OpenFailure* why) override;
    void disconnectLine() override;
    bool applyLine(const LineSettings& settings) override;
    qsizetype waitingOut() const override;
    bool writeLine(const QByteArray& bytes) override;
    void discardLineInput() override;

    // Each false when the port failed, with the system's words in *error.
    bool startRead(QByteArray* got, QString* error);
    void onReadDone();
    bool startWrite(QString* error);
    void onWriteDone();

    std::unique_ptr<Io> io_;
    QByteArray waiting_; // taken, not yet handed to the port
    qsizetype writing_ = 0;
};

} // namespace orvik
