#pragma once

#include "headless/projector_line.h"

namespace orvik {

namespace control {
class ServiceClient;
}

// The line of a projector whose port the service holds: each command joins
// that projector's queue in the service, and comes back with its outcome.
class ServiceLine final : public ProjectorLine {
    Q_OBJECT
public:
    // `device` is the service's name for the port; `service` outlives the line.
    ServiceLine(NamedPort port, QString device, control::ServiceClient& service, QObject* parent = nullptr);

    void open() override;
    void close() override;
    void run(const Command& command) override;
    bool busy() const override { return busy_; }

private:
    void fail(const QString& why);

    QString device_;
    control::ServiceClient& service_;
    bool busy_ = false;
};

} // namespace orvik
