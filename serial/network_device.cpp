#include "serial/network_device.h"

#include <QTcpSocket>
#include <QUrl>

namespace orvik {
namespace {

const QString kRfc2217 = QStringLiteral("rfc2217");
const QString kTcp = QStringLiteral("tcp");

OpenFailure other(const QString& text) { return {OpenFailure::Kind::Other, text, 0, {}}; }

} // namespace

NetworkDevice::NetworkDevice(QObject* parent)
    : SerialDevice(parent)
    , socket_(std::make_unique<QTcpSocket>())
{
    retry_.setInterval(kRetryEvery);
    connect(&retry_, &QTimer::timeout, this, [this] {
        if (socket_->state() == QAbstractSocket::UnconnectedState)
            socket_->connectToHost(host_, port_); // answered later, never waited for
    });
    connect(socket_.get(), &QTcpSocket::connected, this, [this] {
        if (state_ != State::Lost)
            return;
        state_ = State::Open;
        retry_.stop();
        startSession();
    });
    connect(socket_.get(), &QTcpSocket::readyRead, this, &NetworkDevice::onReadable);
    connect(socket_.get(), &QTcpSocket::disconnected, this, [this] {
        if (state_ == State::Open)
            lose();
    });
    connect(socket_.get(), &QTcpSocket::errorOccurred, this, [this] {
        if (state_ == State::Open)
            lose();
        else if (state_ == State::Lost)
            socket_->abort(); // the next retry tries again
    });
}

NetworkDevice::~NetworkDevice()
{
    state_ = State::Closed;
    socket_->disconnect(this); // nothing it says on its way out reaches us
}

bool NetworkDevice::handles(const QString& path)
{
    return path.startsWith(kRfc2217 + QStringLiteral("://")) || path.startsWith(kTcp + QStringLiteral("://"));
}

bool NetworkDevice::open(const QString& path, const LineSettings& settings, OpenFailure* why)
{
    close();
    const QUrl url(path, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || url.port() <= 0 || (url.path() != QString() && url.path() != u"/")) {
        if (why)
            *why = other(QStringLiteral("not a device server's address: use rfc2217://HOST:PORT or tcp://HOST:PORT"));
        return false;
    }
    rfc2217_ = url.scheme() == kRfc2217;
    host_ = url.host();
    port_ = quint16(url.port());
    settings_ = settings;
    socket_->connectToHost(host_, port_);
    if (!socket_->waitForConnected(int(kConnectWithin.count()))) {
        const auto error = socket_->error();
        const QString reason =
            error == QAbstractSocket::ConnectionRefusedError ? QStringLiteral("Connection refused")
            : error == QAbstractSocket::HostNotFoundError    ? QStringLiteral("Host not found")
            : error == QAbstractSocket::SocketTimeoutError || socket_->state() != QAbstractSocket::UnconnectedState
                ? QStringLiteral("timed out after %1 s").arg(kConnectWithin.count() / 1000)
                : socket_->errorString();
        socket_->abort();
        if (why)
            *why = other(reason);
        return false;
    }
    state_ = State::Open;
    startSession();
    return true;
}

void NetworkDevice::startSession()
{
    decoder_ = telnet::Decoder();
    incoming_.clear();
    if (rfc2217_)
        socket_->write(telnet::opening(settings_));
}

void NetworkDevice::close()
{
    retry_.stop();
    state_ = State::Closed; // first: the abort below raises no loss
    socket_->abort();
    incoming_.clear();
}

bool NetworkDevice::apply(const LineSettings& settings)
{
    settings_ = settings; // a lost connection takes them when it comes back
    if (state_ == State::Open && rfc2217_)
        socket_->write(telnet::lineCommands(settings));
    return true;
}

bool NetworkDevice::write(const QByteArray& bytes)
{
    if (state_ != State::Open)
        return false;
    if (socket_->bytesToWrite() + bytes.size() > kOutBufferSize)
        return false; // a stalled server: dropped, never sent late
    return socket_->write(rfc2217_ ? telnet::escape(bytes) : bytes) >= 0;
}

QByteArray NetworkDevice::readAll()
{
    QByteArray out;
    out.swap(incoming_);
    return out;
}

void NetworkDevice::onReadable()
{
    const QByteArray bytes = socket_->readAll();
    if (state_ != State::Open)
        return;
    QByteArray reply;
    const QByteArray data = rfc2217_ ? decoder_.feed(bytes, &reply) : bytes;
    if (!reply.isEmpty())
        socket_->write(reply);
    if (data.isEmpty())
        return;
    incoming_ += data;
    emit received();
}

void NetworkDevice::lose()
{
    state_ = State::Lost;
    socket_->abort();
    incoming_.clear();
    retry_.start();
    emit lost(QStringLiteral("the connection to %1:%2 was closed").arg(host_).arg(port_));
}

} // namespace orvik
