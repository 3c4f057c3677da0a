#include "link/reconnecting_device.h"

namespace orvik {

ReconnectingDevice::ReconnectingDevice(QObject* parent)
    : SerialDevice(parent)
{
    retry_.setInterval(kRetryEvery);
    connect(&retry_, &QTimer::timeout, this, [this] {
        if (state_ == State::Lost)
            reconnectLine();
    });
}

bool ReconnectingDevice::open(const QString& path, const LineSettings& settings, OpenFailure* why)
{
    close();
    path_ = path;
    settings_ = settings;
    OpenFailure ignored;
    if (!connectLine(why ? why : &ignored))
        return false;
    state_ = State::Open;
    return true;
}

void ReconnectingDevice::openLater(const QString& path, const LineSettings& settings)
{
    close();
    path_ = path;
    settings_ = settings;
    state_ = State::Opening;
    beginConnecting();
}

void ReconnectingDevice::beginConnecting()
{
    OpenFailure why;
    const bool ok = connectLine(&why);
    // Reported from the event loop, as a slower transport would.
    QMetaObject::invokeMethod(
        this, [this, ok, why] { finishOpening(ok, why); }, Qt::QueuedConnection);
}

void ReconnectingDevice::finishOpening(bool ok, const OpenFailure& why)
{
    if (state_ != State::Opening)
        return; // closed meanwhile
    if (ok) {
        state_ = State::Open;
    } else {
        disconnectLine();
        state_ = State::Closed;
    }
    emit opened(ok, why);
}

void ReconnectingDevice::close()
{
    retry_.stop();
    incoming_.clear();
    if (state_ != State::Closed) {
        state_ = State::Closed; // first: nothing the transport says on its way out is a loss
        disconnectLine();
    }
}

bool ReconnectingDevice::apply(const LineSettings& settings)
{
    settings_ = settings; // a lost transport takes them when it comes back
    return state_ != State::Open || applyLine(settings);
}

bool ReconnectingDevice::write(const QByteArray& bytes)
{
    if (state_ != State::Open || waitingOut() + bytes.size() > kOutBufferSize)
        return false; // lost, or a stalled line: dropped, never sent late
    return writeLine(bytes);
}

QByteArray ReconnectingDevice::readAll()
{
    QByteArray out;
    out.swap(incoming_);
    return out;
}

void ReconnectingDevice::discardInput()
{
    incoming_.clear();
    if (state_ == State::Open)
        discardLineInput();
}

void ReconnectingDevice::deliver(const QByteArray& bytes)
{
    if (state_ != State::Open || bytes.isEmpty())
        return;
    incoming_ += bytes;
    emit received();
}

void ReconnectingDevice::reconnectLine()
{
    if (connectLine(nullptr))
        restored();
}

void ReconnectingDevice::lose(const QString& reason)
{
    if (state_ != State::Open)
        return;
    state_ = State::Lost;
    incoming_.clear();
    disconnectLine();
    retry_.start();
    emit lost(reason);
}

void ReconnectingDevice::restored()
{
    if (state_ != State::Lost)
        return;
    state_ = State::Open;
    retry_.stop();
    emit back();
}

} // namespace orvik
