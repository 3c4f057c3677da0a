#include "headless/service_line.h"

#include "control_socket/service_client.h"

#include <QPointer>
#include <QTimer>

namespace orvik {

ServiceLine::ServiceLine(NamedPort port, QString device, control::ServiceClient& service, QObject* parent)
    : ProjectorLine(std::move(port), parent)
    , device_(std::move(device))
    , service_(service)
{
    connect(&service, &control::ServiceClient::lost, this, [this](const QString& why) {
        if (state_ == State::Open && !busy_) // a command waiting is told by its outcome
            fail(why);
    });
}

void ServiceLine::open()
{
    // Told later, as a port of one's own is.
    state_ = State::Opening;
    QTimer::singleShot(0, this, [this] {
        if (state_ != State::Opening)
            return;
        if (!service_.connected()) {
            state_ = State::Closed;
            why_ = named(service_.gone());
            emit refused(why_);
            return;
        }
        state_ = State::Open;
        why_.clear();
        emit opened();
    });
}

void ServiceLine::close()
{
    state_ = State::Closed;
    why_ = notOpen();
}

void ServiceLine::run(const Command& command)
{
    busy_ = true;
    service_.run(device_, command.text, [self = QPointer<ServiceLine>(this)](const Outcome& outcome) {
        if (!self)
            return;
        self->busy_ = false;
        if (outcome.portFailed)
            self->fail(outcome.error);
        emit self->finished(outcome);
    });
}

void ServiceLine::fail(const QString& why)
{
    state_ = State::Lost;
    why_ = why;
    emit lost(named(why));
}

} // namespace orvik
