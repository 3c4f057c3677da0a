#pragma once

#include "link/line_settings.h"
#include "link/open_failure.h"

#include <QByteArray>
#include <QObject>
#include <QString>

namespace orvik {

// What the serial control needs of a device: the real serial port, or a
// fake in the tests.
class SerialDevice : public QObject {
    Q_OBJECT
public:
    // Most bytes that wait on the transmit side, the control's output buffer
    // size. A frame that does not fit is dropped, never sent late.
    static constexpr qsizetype kOutBufferSize = 512;

    using QObject::QObject;

    // On failure returns false and says why.
    virtual bool open(const QString& path, const LineSettings& settings, OpenFailure* why) = 0;
    // Opens without holding the event loop (a device server may take seconds
    // to answer); opened() tells how it went. Here: at once, told later.
    virtual void openLater(const QString& path, const LineSettings& settings);
    virtual void close() = 0;
    // Open, or open but lost (see lost()).
    virtual bool isOpen() const = 0;
    virtual bool apply(const LineSettings& settings) = 0;
    // Hands the bytes to the device without waiting. False when nothing was
    // taken: the device is lost, or its transmit side is full.
    virtual bool write(const QByteArray& bytes) = 0;
    virtual QByteArray readAll() = 0;
    // Throws away what came in and was not read: in the device's buffer, and
    // in the driver's where it keeps one. A reply is only what came after.
    virtual void discardInput() { readAll(); }

signals:
    void opened(bool ok, const orvik::OpenFailure& why);
    void received();
    // The device went away while open. It stays open but lost: writes take
    // nothing, and it is opened again at the same path when it comes back.
    void lost(const QString& reason);
    // A lost device is open again.
    void back();
};

} // namespace orvik
