#include "pjlink/face.h"

#include "core/event_dispatcher.h"
#include "core/logging.h"
#include "core/threads.h"
#include "pjlink/answers.h"
#include "service/projector_node.h"

#include "connection/admission.h"
#include "connection/line_connection.h"

#include <QMutex>
#include <QPointer>
#include <QTcpServer>
#include <QThread>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvik::pjlink {

// One projector as the face sees it: its names, and a copy of its states
// kept by the projectors' thread for the face's.
struct Face::Projector {
    ProjectorNode& node;
    QString name;
    QString device;
    mutable QMutex mutex;
    QHash<QString, QString> known;

    // A table of the face's own: a shared one would be changed in place by
    // the projectors' thread once it counted itself the only owner, and Qt
    // reads that count without an order between the threads.
    QHash<QString, QString> states() const
    {
        const QMutexLocker lock(&mutex);
        QHash<QString, QString> copy;
        copy.reserve(known.size());
        for (auto it = known.cbegin(); it != known.cend(); ++it)
            copy.insert(it.key(), it.value());
        return copy;
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
        , refusals_(lcPjlink(), this)
    {
    }

    std::optional<QString> listen(Projector& projector, const ListenAddress& address)
    {
        auto* server = new Server(*this, projector);
        if (!server->listen(address.host, address.port)) {
            const QString error = server->errorString();
            delete server;
            return error;
        }
        return std::nullopt;
    }

    // A connection's set goes to the projectors' thread...
    void submit(Projector& projector, quint64 connection, const QList<Command>& commands)
    {
        runOn(&face_,
              [face = &face_, &projector, connection, commands] { face->run(projector, connection, commands); });
    }
    // ...and its outcome comes back here, to the connection if it is still there.
    void answered(quint64 connection, bool ok);

    int connections() const { return total_.loadRelaxed(); }

    const Settings& settings() const { return settings_; }
    Clock& clock() { return clock_; }
    RefusalLog& refusals() { return refusals_; }
    // Addresses that gave a wrong digest, face-wide: a guesser gains
    // nothing by going from one projector to the next.
    Backoff& guesses() { return guesses_; }

private:
    // One projector's listening socket: its clients go to accept() as
    // descriptors, without a QTcpSocket of Qt's each.
    class Server : public QTcpServer {
    public:
        Server(Front& front, Projector& projector)
            : QTcpServer(&front)
            , front_(front)
            , projector_(projector)
            , admission_({front.settings_.maxConnections, front.settings_.maxPerAddress})
        {
        }
        void incomingConnection(qintptr fd) override { front_.accept(*this, int(fd)); }

        Front& front_;
        Projector& projector_;
        Admission admission_;
    };
    void accept(Server& server, int fd);

    Face& face_;
    const Settings& settings_;
    Clock& clock_;
    RefusalLog refusals_;
    Backoff guesses_;
    QHash<quint64, Connection*> connections_;
    quint64 nextId_ = 0;
    QAtomicInt total_;
};

namespace {

// A client's address, as connections from it are counted and held back.
QString peerOf(int fd)
{
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return QStringLiteral("an unknown address");
    QHostAddress host(reinterpret_cast<const sockaddr*>(&address));
    if (const auto v4 = host.toIPv4Address(); host.protocol() == QAbstractSocket::IPv6Protocol && v4)
        host = QHostAddress(v4); // an IPv4 client of a dual-stack listener, as itself
    return host.toString();
}

} // namespace

// One client: the greeting, the digest, then one line at a time. While a
// set runs, what the client sends next waits in the system's buffers.
class Connection : public QObject {
public:
    Connection(int fd, QString peer, Face::Projector& projector, quint64 id, Face::Front& front)
        : QObject(&front)
        , line_(new LineConnection(
              fd, {.longestLine = kMaxLine, .ends = "\r\n", .mostUnsent = kMostUnsent, .unreadFor = kUnreadFor}, this))
        , peer_(std::move(peer))
        , projector_(projector)
        , id_(id)
        , front_(front)
        , password_(front.settings().password)
        , clock_(front.clock())
        , idle_(front.settings().idle)
    {
        // Every reply in one segment of its own: some clients take each one as a whole reply.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        connect(line_, &LineConnection::lineReceived, this, &Connection::handle);
        connect(line_, &LineConnection::lineTooLong, this, [this] {
            front_.refusals().refused(QStringLiteral("too long"),
                                      QStringLiteral("%1: a client at %2 sent a line over %3 bytes; cut off")
                                          .arg(projector_.name, peer_)
                                          .arg(kMaxLine));
        });
        connect(line_, &LineConnection::ended, this, [this](LineConnection::End why) {
            if (why == LineConnection::End::Unread)
                front_.refusals().refused(
                    QStringLiteral("unread"),
                    QStringLiteral("%1: a client at %2 left its answers unread; cut off").arg(projector_.name, peer_));
            finish();
        });
        if (password_)
            random_ = makeRandom();
        // One alarm for the connection's life, not restarted at every line.
        idleAlarm_ = clock_.makeAlarm([this] { onAlarm(); });
        heard_ = clock_.now();
        const Millis wait = password_ ? front_.guesses().wait(peer_, heard_) : Millis(0);
        if (wait > Millis(0)) {
            // An address that guessed wrong is greeted only once its wait is over.
            line_->hold();
            greetAt_ = heard_ + wait;
            idleAlarm_->start(wait);
            return;
        }
        greet();
    }

private:
    static constexpr qsizetype kMostUnsent = 4 * 1024;
    static constexpr Millis kUnreadFor{5000};

    void greet()
    {
        greetAt_.reset();
        heard_ = clock_.now();
        line_->send(greeting(random_));
        line_->resume();
        idleAlarm_->start(idle_);
    }

    void onAlarm()
    {
        if (greetAt_) {
            const Millis left = *greetAt_ - clock_.now();
            return left > Millis(0) ? idleAlarm_->start(left) : greet();
        }
        const Millis silent = clock_.now() - heard_;
        if (silent < idle_)
            return idleAlarm_->start(idle_ - silent);
        if (!waiting_)
            return line_->close();
        idleAlarm_->start(idle_); // its set is still in the projector's queue: not idle
    }

    void handle(QByteArray line)
    {
        heard_ = clock_.now();
        if (!admit(line))
            return;
        const QHash<QString, QString> states = projector_.states();
        auto action = answer(line, {projector_.name, projector_.device, states});
        if (const QByteArray* reply = std::get_if<QByteArray>(&action))
            return line_->send(*reply);
        const Forward forward = std::get<Forward>(std::move(action));
        waiting_ = true;
        line_->hold();
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
            if (!sameDigest(line.first(32), digestOf(random_, *password_)))
                return refuse();
            authenticated_ = true;
            front_.guesses().succeeded(peer_);
            line.remove(0, 32);
        }
        return authenticated_ || refuse();
    }

    bool refuse()
    {
        front_.guesses().failed(peer_, clock_.now());
        front_.refusals().refused(
            QStringLiteral("password"),
            QStringLiteral("%1: a client at %2 was refused: no password or a wrong one").arg(projector_.name, peer_));
        line_->send(kAuthError);
        line_->close();
        return false;
    }

public:
    // The set's outcome: OK when the projector acknowledged every one of its commands.
    void answered(bool ok)
    {
        waiting_ = false;
        line_->send(setAnswer(head_, ok));
        heard_ = clock_.now();
        line_->resume();
    }

    const QString& peer() const { return peer_; }

private:
    void finish()
    {
        idleAlarm_->stop();
        deleteLater();
    }

    LineConnection* line_;
    QString peer_;
    Face::Projector& projector_;
    quint64 id_;
    Face::Front& front_;
    std::optional<QByteArray> password_;
    Clock& clock_;
    Millis idle_;
    Millis heard_{0};               // the last line, or the last answer to a set
    std::optional<Millis> greetAt_; // held back after a wrong digest from its address
    std::unique_ptr<Alarm> idleAlarm_;
    QByteArray random_;
    bool waiting_ = false; // for a set's answer
    QByteArray head_;      // of the set
    bool authenticated_ = false;
};

void Face::Front::accept(Server& server, int fd)
{
    const QString peer = peerOf(fd);
    if (const auto full = server.admission_.enter(peer)) {
        refusals_.refused(
            QStringLiteral("full"),
            QStringLiteral("%1: a client at %2 was refused: %3").arg(server.projector_.name, peer, *full));
        ::close(fd);
        return;
    }
    total_.ref();
    const quint64 id = ++nextId_;
    auto* connection = new Connection(fd, peer, server.projector_, id, *this);
    connections_.insert(id, connection);
    connect(connection, &QObject::destroyed, this, [this, &server, peer, id] {
        connections_.remove(id);
        total_.deref();
        server.admission_.left(peer);
    });
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
        useEventLoopOfHeadlessPrograms(*thread_); // idle listeners cost nothing
        front_->moveToThread(thread_.get());
        thread_->start();
    }
}

Face::~Face()
{
    if (thread_) {
        // The clients go with their thread: their objects are deleted there.
        runOn(
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
    runOn(
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
            runOn(front, [front, connection, ok] { front->answered(connection, ok); });
        });
}

int Face::connections() const { return front_->connections(); }

} // namespace orvik::pjlink
