#include "headless/projector_line.h"

#include "link/open_failure.h"
#include "link/port_device.h"
#include "protocol/exchange.h"

namespace orvik {

ProjectorLine::ProjectorLine(NamedPort port, QObject* parent)
    : QObject(parent)
    , port_(std::move(port))
{
}

QString ProjectorLine::named(const QString& what) const
{
    return QStringLiteral("%1 (%2): %3").arg(port_.name, port_.device, what);
}

PortLine::PortLine(NamedPort port, LineSettings settings, Clock& clock, Millis replyTimeout, QString choose,
                   QObject* parent)
    : ProjectorLine(std::move(port), parent)
    , settings_(settings)
    , choose_(std::move(choose))
    , device_(std::make_unique<PortDevice>())
    , exchange_(std::make_unique<Exchange>(*device_, clock, replyTimeout))
{
    connect(device_.get(), &SerialDevice::opened, this, [this](bool ok, const OpenFailure& failure) {
        if (state_ != State::Opening)
            return;
        if (!ok) {
            state_ = State::Closed;
            why_ = openFailureReason(choose_, failure, loginName());
            emit refused(describeOpenFailure(this->port().name, choose_, this->port().device, failure, loginName()));
            return;
        }
        state_ = State::Open;
        why_.clear();
        emit opened();
    });
    connect(device_.get(), &SerialDevice::lost, this, [this](const QString& reason) {
        state_ = State::Lost;
        why_ = portLostText(reason);
        emit lost(named(QStringLiteral("lost: %1").arg(reason)));
    });
    connect(device_.get(), &SerialDevice::back, this, [this] {
        state_ = State::Open;
        why_.clear();
        emit back(named(QStringLiteral("back")));
    });
    connect(exchange_.get(), &Exchange::finished, this, &ProjectorLine::finished);
}

PortLine::~PortLine()
{
    exchange_.reset(); // before the device it talks to
    device_->close();
}

void PortLine::open()
{
    state_ = State::Opening;
    device_->openLater(port().device, settings_);
}

void PortLine::close()
{
    device_->close();
    state_ = State::Closed;
    why_ = notOpen();
}

void PortLine::run(const Command& command) { exchange_->run(command); }

bool PortLine::busy() const { return exchange_->busy(); }

} // namespace orvik
