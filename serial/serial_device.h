#pragma once

#include "serial/line_settings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

namespace orvik {

// What the serial control needs of a device: the real serial port, or a
// fake in the tests.
class SerialDevice : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // On failure returns false and sets reason to a text for the user.
    virtual bool open(const QString& path, const LineSettings& settings, QString* reason) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual bool apply(const LineSettings& settings) = 0;
    // Queues the bytes and starts writing them at once, without waiting.
    virtual bool write(const QByteArray& bytes) = 0;
    virtual QByteArray readAll() = 0;

signals:
    void received();
    // The device went away while open; it is closed already.
    void lost(const QString& reason);
};

} // namespace orvik
