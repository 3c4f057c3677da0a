#pragma once

#include "app/form1.h"
#include "tests/support/fake_serial_device.h"
#include "tests/support/manual_clock.h"
#include "tests/support/recording_warning_box.h"

#include <QStringList>
#include <QTest>

#include <memory>

namespace orvik::test {

// The real window on a fake serial device and a hand-driven clock.
// COM1 is /dev/fake1, COM2 /dev/fake2.
struct FormFixture {
    explicit FormFixture(QSet<QString> missing = {});

    template <typename T = QWidget> T* control(const char* name) const
    {
        return qobject_cast<T*>(form->control(QLatin1String(name)));
    }
    QString caption(const char* name) const; // of a label or button
    void advance(int ms) { clock.advance(Millis(ms)); }
    // Start-up, then the window on the (offscreen) screen.
    void load();
    void click(const char* name);
    // The bytes written to the line since the last call.
    QByteArray takeWritten();

    ManualClock clock;
    RecordingWarningBox warnings;
    FakeSerialDevice* device = nullptr; // owned by the form's serial control
    QList<int> exitCodes;
    std::unique_ptr<Form1> form;
};

} // namespace orvik::test
