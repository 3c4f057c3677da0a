#pragma once

#include "link/serial_device.h"

#include <QSet>

namespace orvik::test {

// A serial device in memory: records what is written, delivers what the
// test injects, and refuses the paths it is told to.
class FakeSerialDevice final : public SerialDevice {
    Q_OBJECT
public:
    bool open(const QString& path, const LineSettings& settings, OpenFailure* why) override;
    void close() override
    {
        closings += open_ ? 1 : 0;
        open_ = false;
        lost_ = false;
    }
    bool isOpen() const override { return open_; }
    bool apply(const LineSettings& settings) override;
    bool write(const QByteArray& bytes) override;
    QByteArray readAll() override;

    // Bytes from the far end: queued and announced like a receive event.
    void inject(const QByteArray& bytes);
    // The device disappears while open: open but lost until it is back.
    void pull();

    QSet<QString> missing; // paths that fail to open
    QByteArray written;
    QString openedPath;
    LineSettings settings;
    int openings = 0;
    int closings = 0;

signals:
    void wrote(const QByteArray& bytes);

private:
    bool open_ = false;
    bool lost_ = false;
    QByteArray incoming_;
};

} // namespace orvik::test
