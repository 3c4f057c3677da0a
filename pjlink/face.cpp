#include "pjlink/face.h"

#include "core/logging.h"
#include "pjlink/answers.h"
#include "service/projector_node.h"

#include <QMutex>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <sys/socket.h>

namespace orvik::pjlink {

// One projector as the face sees it: its names, and a copy of its states
// kept by the projectors' thread for the face's.
struct Face::Projector {
    ProjectorNode& node;
    QString name;
    QString device;
    mutable QMutex mutex;
    QHash<QString, QString> known;

    QHash<QString, QString> states() const
    {
        const QMutexLocker lock(&mutex);
        return known; // shared, not copied, until the next change
    }
};

class Connection;

// The servers and their clients, on the face's thread.
class Face::Front : public QObject {
public:
    Front(Face& face, Clock& clock)
        : face_(face)
        , settings_(face.settings_)
        , clock_(clock)
    {
    }

    std::optional<QString> listen(Projector& projector, const ListenAddress& address)
    {
        auto* server = new QTcpServer(this);
        if (!server->listen(address.host, address.port)) {
            const QString error = server->errorString();
            delete server;
            return error;
        }
        auto listening = std::make_unique<Listening>(Listening{&projector, server});
        Listening* l = listening.get();
        connect(server, &QTcpServer::newConnection, this, [this, l] { accept(*l); });
        listening_.push_back(std::move(listening));
        return std::nullopt;
    }

    // A connection's set goes to the projectors' thread...
    void submit(Projector& projector, quint64 connection, const QList<Command>& commands)
    {
        QMetaObject::invokeMethod(
            &face_, [face = &face_, &projector, connection, commands] { face->run(projector, connection, commands); },
            Qt::QueuedConnection);
    }
    // ...and its outcome comes back here, to the connection if it is still there.
    void answered(quint64 connection, bool ok);

    int connections() const { return total_.loadRelaxed(); }

private:
    struct Listening {
        Projector* projector;
        QTcpServer* server;
        int connections = 0;
        bool full = false; // said once until every client has gone
    };
    void accept(Listening& listening);

    Face& face_;
    const Settings& settings_;
    Clock& clock_;
    std::vector<std::unique_ptr<Listening>> listening_;
    QHash<quint64, Connection*> connections_;
    quint64 nextId_ = 0;
    QAtomicInt total_;
};

// One client: the greeting, the digest, then one line at a time. While a
// set runs, what the client sends next waits, in buffers of a line or so.
class Connection : public QObject {
public:
    Connection(QTcpSocket* socket, Face::Projector& projector, quint64 id, const Face::Settings& settings, Clock& clock,
               Face::Front& front)
        : QObject(&front)
        , socket_(socket)
        , projector_(projector)
        , id_(id)
        , front_(front)
        , password_(settings.password)
        , clock_(clock)
        , idle_(settings.idle)
    {
        socket_->setParent(this);
        // Every reply in one segment of its own: some clients take each one as a whole reply.
        socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket_->setReadBufferSize(kMaxLine + 1);
        if (password_)
            random_ = makeRandom();
        // One alarm for the connection's life, not restarted at every line.
        idleAlarm_ = clock.makeAlarm([this] {
            const Millis silent = clock_.now() - heard_;
            if (silent < idle_)
                return idleAlarm_->start(idle_ - silent);
            if (!waiting_)
                return finish();
            idleAlarm_->start(idle_); // its set is still in the projector's queue: not idle
        });
        heard_ = clock.now();
        connect(socket_, &QTcpSocket::readyRead, this, &Connection::read);
        connect(socket_, &QTcpSocket::disconnected, this, &Connection::finish);
        idleAlarm_->start(idle_);
        send(greeting(random_));
    }

private:
    // Each reply in one write of its own, straight to the system while
    // nothing waits before it: Qt's write buffer would switch a write
    // notifier on and off around it, waking the event loop twice more for
    // every answer. What the system does not take goes through Qt.
    void send(const QByteArray& reply)
    {
        qsizetype sent = 0;
        if (socket_->bytesToWrite() == 0) {
            const ssize_t n = ::send(int(socket_->socketDescriptor()), reply.constData(), size_t(reply.size()),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            sent = n > 0 ? qsizetype(n) : 0;
        }
        if (sent < reply.size())
            socket_->write(reply.constData() + sent, reply.size() - sent);
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
            heard_ = clock_.now();
            in_ += socket_->read(kMaxLine + 1 - in_.size() + 1); // never more than one line too long
        }
    }

    void handle(QByteArray line)
    {
        if (line.startsWith('\n')) // CR LF from a terminal
            line.remove(0, 1);
        if (!admit(line))
            return;
        const QHash<QString, QString> states = projector_.states();
        auto action = answer(line, {projector_.name, projector_.device, states});
        if (const QByteArray* reply = std::get_if<QByteArray>(&action)) {
            if (!reply->isEmpty())
                send(*reply);
            return;
        }
        const Forward forward = std::get<Forward>(std::move(action));
        waiting_ = true;
        head_ = forward.head;
        front_.submit(projector_, id_, forward.commands);
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
                                          .arg(projector_.name, socket_->peerAddress().toString());
        send(kAuthError);
        close();
        return false;
    }

public:
    // The set's outcome: OK when the projector acknowledged every command.
    void answered(bool ok)
    {
        waiting_ = false;
        send(setAnswer(head_, ok));
        heard_ = clock_.now();
        read();
    }

private:
    void cutOff()
    {
        qCInfo(lcPjlink).noquote() << QStringLiteral("%1: a client at %2 sent a line over %3 bytes; cut off")
                                          .arg(projector_.name, socket_->peerAddress().toString())
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
    Face::Projector& projector_;
    quint64 id_;
    Face::Front& front_;
    std::optional<QByteArray> password_;
    Clock& clock_;
    Millis idle_;
    Millis heard_{0}; // the last line, or the last answer to a set
    std::unique_ptr<Alarm> idleAlarm_;
    QByteArray random_;
    QByteArray in_;        // read, not yet answered: at most one line and a bit
    bool waiting_ = false; // for a set's answer
    QByteArray head_;      // of the set
    bool authenticated_ = false;
    bool closing_ = false;
    bool finished_ = false;
};

void Face::Front::accept(Listening& listening)
{
    while (QTcpSocket* socket = listening.server->nextPendingConnection()) {
        if (listening.connections >= settings_.maxConnections) {
            if (!listening.full)
                qCWarning(lcPjlink).noquote() << QStringLiteral("%1: %2 PJLink clients at once; more are refused")
                                                     .arg(listening.projector->name)
                                                     .arg(settings_.maxConnections);
            listening.full = true;
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++listening.connections;
        total_.ref();
        const quint64 id = ++nextId_;
        auto* connection = new Connection(socket, *listening.projector, id, settings_, clock_, *this);
        connections_.insert(id, connection);
        connect(connection, &QObject::destroyed, this, [this, &listening, id] {
            connections_.remove(id);
            total_.deref();
            if (--listening.connections == 0)
                listening.full = false;
        });
    }
}

void Face::Front::answered(quint64 connection, bool ok)
{
    if (Connection* c = connections_.value(connection))
        c->answered(ok);
}

Face::Face(Settings settings, Clock& clock, QObject* parent)
    : QObject(parent)
    , settings_(std::move(settings))
{
    front_ = new Front(*this, clock);
    if (settings_.ownThread) {
        thread_ = std::make_unique<QThread>();
        thread_->setObjectName(QStringLiteral("pjlink"));
        front_->moveToThread(thread_.get());
        thread_->start();
    }
}

Face::~Face()
{
    if (thread_) {
        // The clients go with their thread: their objects are deleted there.
        QMetaObject::invokeMethod(
            front_, [front = front_] { delete front; }, Qt::BlockingQueuedConnection);
        thread_->quit();
        thread_->wait();
    } else {
        delete front_;
    }
}

std::optional<QString> Face::serve(ProjectorNode& node, const ListenAddress& address)
{
    auto projector = std::unique_ptr<Projector>(new Projector{node, node.port().name, node.port().device, {}, {}});
    Projector* p = projector.get();
    p->known = node.states();
    std::optional<QString> error;
    QMetaObject::invokeMethod(
        front_, [&] { error = front_->listen(*p, address); },
        thread_ ? Qt::BlockingQueuedConnection : Qt::DirectConnection);
    if (error)
        return error;
    connect(&node, &ProjectorNode::stateChanged, this, [p](const QString& name, const QString& value) {
        const QMutexLocker lock(&p->mutex);
        p->known.insert(name, value);
    });
    projectors_.push_back(std::move(projector));
    return std::nullopt;
}

void Face::run(Projector& projector, quint64 connection, const QList<Command>& commands)
{
    struct Set {
        qsizetype left;
        bool ok = true;
    };
    auto set = std::make_shared<Set>(Set{commands.size()});
    const QPointer<Face> self(this);
    for (const Command& command : commands)
        projector.node.command(command, [self, set, connection](const Outcome& outcome) {
            set->ok = set->ok && outcome.ok;
            if (--set->left > 0 || !self)
                return;
            Front* front = self->front_;
            const bool ok = set->ok;
            QMetaObject::invokeMethod(
                front, [front, connection, ok] { front->answered(connection, ok); }, Qt::QueuedConnection);
        });
}

int Face::connections() const { return front_->connections(); }

} // namespace orvik::pjlink
