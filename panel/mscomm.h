#pragma once

#include "link/line_settings.h"
#include "link/serial_device.h"
#include "panel/failure.h"

#include <QObject>

#include <functional>
#include <memory>

namespace orvik {

// Failure numbers of the serial control.
enum class CommFailure : int {
    InvalidPropertyValue = 380,
    InvalidPortNumber = 8002,
    PortAlreadyOpen = 8005,
    PortOpenFailed = 8012,
    PortNotOpen = 8018,
};

// The serial control: port number, settings string, opening and
// closing, output, input and the receive event. Failed operations leave
// their number and description in the current failure and go on.
class MSComm : public QObject {
    Q_OBJECT
public:
    static constexpr int kReceiveEvent = 2;
    static constexpr int kDeviceLostEvent = 1011;

    using PortMap = std::function<QString(int port)>;

    MSComm(std::unique_ptr<SerialDevice> device, PortMap ports, Failure& failure, QObject* parent = nullptr);
    ~MSComm() override;

    int commPort() const { return port_; }
    void setCommPort(int port);
    QString settings() const { return formatLineSettings(settings_); }
    void setSettings(const QString& settings);
    bool portOpen() const;
    void setPortOpen(bool open);
    // Each character leaves as one byte. Returns false when nothing could be
    // written (the port is closed); that is no failure of a handler.
    bool setOutput(const QString& text);
    QString input();
    int commEvent() const { return event_; }

    SerialDevice& device() { return *device_; }

signals:
    void OnComm();
    // An opening that went on after setPortOpen(true) returned (a port
    // borrowed from the service) failed after all: the warning's text.
    void openFailedLater(const QString& description);

private:
    std::unique_ptr<SerialDevice> device_;
    PortMap ports_;
    Failure& failure_;
    int port_ = 1;
    QString openedPath_;    // the device of the last opening
    LineSettings settings_; // 9600,N,8,1 as designed
    int event_ = 0;
};

} // namespace orvik
