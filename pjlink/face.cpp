#include "pjlink/face.h"

#include "core/logging.h"
#include "pjlink/answers.h"
#include "service/projector_node.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace orvik::pjlink {

// One client: the greeting, the digest, then one line at a time. While a
// set runs, what the client sends next waits, in buffers of a line or so.
class Connection : public QObject {
public:
    Connection(QTcpSocket* socket, ProjectorNode& node, const Face::Settings& settings, Clock& clock, QObject* parent)
        : QObject(parent)
        , socket_(socket)
        , node_(node)
        , password_(settings.password)
        , idle_(settings.idle)
    {
        socket_->setParent(this);
        // Every reply in one segment of its own: some clients take each one as a whole reply.
        socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket_->setReadBufferSize(kMaxLine + 1);
        if (password_)
            random_ = makeRandom();
        idleAlarm_ = clock.makeAlarm([this] {
            if (!waiting_)
                finish();
        });
        connect(socket_, &QTcpSocket::readyRead, this, &Connection::read);
        connect(socket_, &QTcpSocket::disconnected, this, &Connection::finish);
        idleAlarm_->start(idle_);
        send(greeting(random_));
    }

private:
    void send(const QByteArray& reply)
    {
        socket_->write(reply);
        socket_->flush();
    }

    void read()
    {
        while (!waiting_ && !closing_) {
            const qsizetype end = in_.indexOf('\r');
            if (end > kMaxLine || (end < 0 && in_.size() > kMaxLine))
                return cutOff();
            if (end >= 0) {
                const QByteArray line = in_.left(end);
                in_.remove(0, end + 1);
                handle(line);
                continue;
            }
            if (socket_->bytesAvailable() <= 0)
                return;
            idleAlarm_->start(idle_);
            in_ += socket_->read(kMaxLine + 1 - in_.size() + 1); // never more than one line too long
        }
    }

    void handle(QByteArray line)
    {
        if (line.startsWith('\n')) // CR LF from a terminal
            line.remove(0, 1);
        if (!admit(line))
            return;
        const Known known{node_.port().name, node_.port().device, node_.states()};
        auto action = answer(line, known);
        if (const QByteArray* reply = std::get_if<QByteArray>(&action)) {
            if (!reply->isEmpty())
                send(*reply);
            return;
        }
        const Forward forward = std::get<Forward>(std::move(action));
        waiting_ = forward.commands.size();
        allOk_ = true;
        const QPointer<Connection> self(this);
        for (const Command& command : forward.commands)
            node_.command(command, [self, head = forward.head](const Outcome& outcome) {
                if (self)
                    self->answered(head, outcome.ok);
            });
    }

    // Takes the digest off the front, if any; false when the client is refused.
    bool admit(QByteArray& line)
    {
        const bool digested = line.size() > 32 && !line.startsWith('%') && line[32] == '%';
        if (!password_) {
            if (digested)
                line.remove(0, 32);
            return true;
        }
        if (digested) {
            if (line.first(32).toLower() != digestOf(random_, *password_))
                return refuse();
            authenticated_ = true;
            line.remove(0, 32);
        }
        return authenticated_ || refuse();
    }

    bool refuse()
    {
        qCInfo(lcPjlink).noquote() << QStringLiteral("%1: a client at %2 was refused: no password or a wrong one")
                                          .arg(node_.port().name, socket_->peerAddress().toString());
        send(kAuthError);
        close();
        return false;
    }

    void answered(const QByteArray& head, bool ok)
    {
        allOk_ = allOk_ && ok;
        if (--waiting_ > 0)
            return;
        send(setAnswer(head, allOk_));
        idleAlarm_->start(idle_);
        read();
    }

    void cutOff()
    {
        qCInfo(lcPjlink).noquote() << QStringLiteral("%1: a client at %2 sent a line over %3 bytes; cut off")
                                          .arg(node_.port().name, socket_->peerAddress().toString())
                                          .arg(kMaxLine);
        close();
    }

    void close()
    {
        closing_ = true;
        socket_->disconnectFromHost(); // what was written still goes
    }

    void finish()
    {
        if (finished_)
            return;
        finished_ = true;
        idleAlarm_->stop();
        socket_->abort();
        deleteLater();
    }

    QTcpSocket* socket_;
    ProjectorNode& node_;
    std::optional<QByteArray> password_;
    Millis idle_;
    std::unique_ptr<Alarm> idleAlarm_;
    QByteArray random_;
    QByteArray in_; // read, not yet answered: at most one line and a bit
    qsizetype waiting_ = 0;
    bool allOk_ = true;
    bool authenticated_ = false;
    bool closing_ = false;
    bool finished_ = false;
};

Face::Face(Settings settings, Clock& clock, QObject* parent)
    : QObject(parent)
    , settings_(std::move(settings))
    , clock_(clock)
{
}

Face::~Face() = default;

std::optional<QString> Face::serve(ProjectorNode& node, const ListenAddress& address)
{
    auto listening = std::make_unique<Listening>(Listening{&node, new QTcpServer(this)});
    Listening* l = listening.get();
    if (!l->server->listen(address.host, address.port))
        return l->server->errorString();
    connect(l->server, &QTcpServer::newConnection, this, [this, l] { accept(*l); });
    listening_.push_back(std::move(listening));
    return std::nullopt;
}

void Face::accept(Listening& listening)
{
    while (QTcpSocket* socket = listening.server->nextPendingConnection()) {
        if (listening.connections >= settings_.maxConnections) {
            if (!listening.full)
                qCWarning(lcPjlink).noquote() << QStringLiteral("%1: %2 PJLink clients at once; more are refused")
                                                     .arg(listening.node->port().name)
                                                     .arg(settings_.maxConnections);
            listening.full = true;
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++listening.connections;
        auto* connection = new Connection(socket, *listening.node, settings_, clock_, this);
        connect(connection, &QObject::destroyed, this, [&listening] {
            if (--listening.connections == 0)
                listening.full = false;
        });
    }
}

int Face::connections() const
{
    int sum = 0;
    for (const auto& l : listening_)
        sum += l->connections;
    return sum;
}

} // namespace orvik::pjlink
