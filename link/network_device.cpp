#include "link/network_device.h"

#include <QTcpSocket>
#include <QUrl>

namespace orvik {
namespace {

const QString kRfc2217 = QStringLiteral("rfc2217");
const QString kTcp = QStringLiteral("tcp");

OpenFailure other(const QString& text) { return {OpenFailure::Kind::Other, text, 0, {}}; }

} // namespace

NetworkDevice::NetworkDevice(QObject* parent)
    : ReconnectingDevice(parent)
    , socket_(std::make_unique<QTcpSocket>())
{
    connectDeadline_.setSingleShot(true);
    connectDeadline_.setInterval(kConnectWithin);
    connect(&connectDeadline_, &QTimer::timeout, this, [this] {
        if (isOpening())
            finishOpening(false, other(connectFailure()));
    });
    connect(socket_.get(), &QTcpSocket::connected, this, [this] {
        if (isOpening()) {
            connectDeadline_.stop();
            startSession();
            finishOpening(true, {});
        } else if (isLost()) {
            startSession();
            restored();
        }
    });
    connect(socket_.get(), &QTcpSocket::readyRead, this, &NetworkDevice::onReadable);
    connect(socket_.get(), &QTcpSocket::disconnected, this, [this] { lose(closedReason()); });
    connect(socket_.get(), &QTcpSocket::errorOccurred, this, [this] {
        if (isOpening()) {
            connectDeadline_.stop();
            finishOpening(false, other(connectFailure()));
        } else if (isLive()) {
            lose(closedReason());
        } else if (isLost()) {
            socket_->abort(); // the next retry tries again
        }
    });
}

NetworkDevice::~NetworkDevice()
{
    socket_->disconnect(this); // nothing it says on its way out reaches us
}

bool NetworkDevice::handles(const QString& path)
{
    return path.startsWith(kRfc2217 + QStringLiteral("://")) || path.startsWith(kTcp + QStringLiteral("://"));
}

bool NetworkDevice::readAddress(OpenFailure* why)
{
    const QUrl url(path(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || url.port() <= 0 || (url.path() != QString() && url.path() != u"/")) {
        if (why)
            *why = other(QStringLiteral("not a device server's address: use rfc2217://HOST:PORT or tcp://HOST:PORT"));
        return false;
    }
    const bool rfc2217 = url.scheme() == kRfc2217;
    if (releasing_ && (rfc2217 != rfc2217_ || url.host() != host_ || url.port() != port_)) {
        releasing_ = false; // another address: let the old connection go now
        socket_->abort();
    }
    rfc2217_ = rfc2217;
    host_ = url.host();
    port_ = quint16(url.port());
    return true;
}

// The same address opened again before the event loop ran: the connection
// stays, and takes the settings as a new one would.
bool NetworkDevice::keepsConnection()
{
    if (!releasing_)
        return false;
    releasing_ = false;
    if (socket_->state() != QAbstractSocket::ConnectedState) {
        socket_->abort();
        return false;
    }
    if (rfc2217_)
        socket_->write(telnet::lineCommands(settings()));
    return true;
}

QString NetworkDevice::connectFailure() const
{
    const auto error = socket_->error();
    if (error == QAbstractSocket::ConnectionRefusedError)
        return QStringLiteral("Connection refused");
    if (error == QAbstractSocket::HostNotFoundError)
        return QStringLiteral("Host not found");
    if (error == QAbstractSocket::SocketTimeoutError || socket_->state() != QAbstractSocket::UnconnectedState)
        return QStringLiteral("timed out after %1 s").arg(kConnectWithin.count() / 1000);
    return socket_->errorString();
}

bool NetworkDevice::connectLine(OpenFailure* why)
{
    if (!readAddress(why))
        return false;
    if (keepsConnection())
        return true;
    socket_->connectToHost(host_, port_);
    if (!socket_->waitForConnected(int(kConnectWithin.count()))) {
        if (why)
            *why = other(connectFailure());
        socket_->abort();
        return false;
    }
    startSession();
    return true;
}

void NetworkDevice::beginConnecting()
{
    OpenFailure why;
    if (!readAddress(&why)) {
        QMetaObject::invokeMethod(
            this, [this, why] { finishOpening(false, why); }, Qt::QueuedConnection);
        return;
    }
    if (keepsConnection()) {
        QMetaObject::invokeMethod(
            this, [this] { finishOpening(true, {}); }, Qt::QueuedConnection);
        return;
    }
    connectDeadline_.start();
    socket_->connectToHost(host_, port_); // answered by connected() or errorOccurred()
}

void NetworkDevice::reconnectLine()
{
    if (socket_->state() == QAbstractSocket::UnconnectedState)
        socket_->connectToHost(host_, port_); // answered later, never waited for
}

QString NetworkDevice::closedReason() const
{
    if (!refusal_.isEmpty())
        return QStringLiteral("%1:%2 said \"%3\" and closed the connection: it serves another client on this port "
                              "(orvik-control, orvik-send or orvik-mqtt elsewhere?). Close that program, or let the "
                              "server take more clients (ser2net: max-connections).")
            .arg(host_)
            .arg(port_)
            .arg(refusal_);
    return QStringLiteral("the connection to %1:%2 was closed").arg(host_).arg(port_);
}

void NetworkDevice::startSession()
{
    refusal_.clear();
    decoder_ = telnet::Decoder();
    if (rfc2217_)
        socket_->write(telnet::opening(settings()));
}

void NetworkDevice::disconnectLine()
{
    connectDeadline_.stop();
    if (isLost() || socket_->state() != QAbstractSocket::ConnectedState) {
        socket_->abort();
        return;
    }
    releasing_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (releasing_) {
                releasing_ = false;
                socket_->abort();
            }
        },
        Qt::QueuedConnection);
}

bool NetworkDevice::applyLine(const LineSettings& settings)
{
    if (rfc2217_)
        socket_->write(telnet::lineCommands(settings));
    return true;
}

qsizetype NetworkDevice::waitingOut() const { return socket_->bytesToWrite(); }

bool NetworkDevice::writeLine(const QByteArray& bytes)
{
    return socket_->write(rfc2217_ ? telnet::escape(bytes) : bytes) >= 0;
}

void NetworkDevice::onReadable()
{
    const QByteArray bytes = socket_->readAll();
    if (!isLive())
        return;
    QByteArray reply;
    const QByteArray data = rfc2217_ ? decoder_.feed(bytes, &reply) : bytes;
    if (!reply.isEmpty())
        socket_->write(reply);
    if (data.isEmpty())
        return;
    // A server whose port is taken says so in plain text, then hangs up.
    if (const qsizetype at = data.indexOf("in use"); at >= 0 && refusal_.isEmpty())
        refusal_ = QString::fromLatin1(data.left(data.indexOf('\r', at))).trimmed().left(80);
    deliver(data);
}

} // namespace orvik
