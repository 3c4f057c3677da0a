#include "control_socket/control_face.h"

#include "connection/admission.h"
#include "connection/line_connection.h"
#include "control_socket/messages.h"
#include "core/logging.h"
#include "link/port_map.h"
#include "service/projector_node.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvik {

using namespace control;

namespace {

const QString kError = QStringLiteral("error");
const QString kId = QStringLiteral("id");

QString text(const QJsonObject& object, const char* key) { return object.value(QLatin1String(key)).toString(); }

// Answers wait unread a few KiB at most before the client's requests are
// left unread too; a client that reads none for 5 s is closed.
const LineConnection::Limits kLimits{
    .longestLine = kMaxLine + 1, .ends = "\n", .mostUnsent = 8 * 1024, .unreadFor = std::chrono::seconds(5)};

// Whether a service listens at `address`: a local socket answers at once.
bool answers(const sockaddr_un& address)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const bool yes =
        fd >= 0 && (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 || errno == EAGAIN);
    if (fd >= 0)
        ::close(fd);
    return yes;
}

// The process at the other end, as the kernel knows it.
struct Peer {
    ucred credentials{0, uid_t(-1), gid_t(-1)};
    bool known = false;
};

Peer peerOf(int fd)
{
    Peer peer;
    socklen_t size = sizeof peer.credentials;
    peer.known = ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer.credentials, &size) == 0;
    return peer;
}

// "orvik-control (process 7)": the program's name from /proc, or its
// user's where the service may not look there (ProtectProc=invisible).
QString nameOf(const Peer& peer)
{
    if (!peer.known)
        return QStringLiteral("an unknown process");
    QFile comm(QStringLiteral("/proc/%1/comm").arg(peer.credentials.pid));
    QString program;
    if (comm.open(QIODevice::ReadOnly))
        program = QString::fromUtf8(comm.read(64)).trimmed();
    if (program.isEmpty()) {
        const passwd* user = ::getpwuid(peer.credentials.uid);
        program = user ? QStringLiteral("a program of %1").arg(QString::fromUtf8(user->pw_name))
                       : QStringLiteral("a program of user %1").arg(peer.credentials.uid);
    }
    for (QChar& c : program)
        if (!c.isPrint())
            c = u'?';
    return QStringLiteral("%1 (process %2)").arg(program).arg(peer.credentials.pid);
}

} // namespace

// One client: its requests in order, its answers as they come, and the
// ports it borrowed, given back when it goes however it goes.
class ControlFace::Connection : public QObject {
public:
    Connection(ControlFace& face, int fd, Peer peer, QString counted)
        : QObject(&face)
        , face_(face)
        , line_(new LineConnection(fd, kLimits, this))
        , peer_(peer)
        , counted_(std::move(counted))
    {
        connect(line_, &LineConnection::lineReceived, this, &Connection::handle);
        connect(line_, &LineConnection::lineTooLong, this, [this] {
            line_->send(encode({{kError, QStringLiteral("a line longer than %1 bytes").arg(kMaxLine)}}));
            face_.refusals_->refused(QStringLiteral("too long"),
                                     QStringLiteral("%1: %2 sent a line longer than %3 bytes; cut off")
                                         .arg(face_.path_, nameOf(peer_))
                                         .arg(kMaxLine));
        });
        connect(line_, &LineConnection::ended, this, [this](LineConnection::End why) {
            if (why == LineConnection::End::Unread)
                face_.refusals_->refused(
                    QStringLiteral("unread"),
                    QStringLiteral("%1: %2 left its answers unread; cut off").arg(face_.path_, nameOf(peer_)));
            end();
        });
    }

private:
    void end()
    {
        for (const QPointer<ProjectorNode>& node : std::exchange(borrowed_, {}))
            if (node) {
                qCInfo(lcControl).noquote()
                    << QStringLiteral("%1 (%2): given back").arg(node->port().name, node->port().device);
                node->takeBack();
            }
        face_.admission_->left(counted_);
        deleteLater();
    }

    void send(const QJsonObject& message) { line_->send(encode(message)); }

    void handle(const QByteArray& line)
    {
        auto decoded = decode(line);
        if (const QString* why = std::get_if<QString>(&decoded))
            return send({{kError, *why}});
        const QJsonObject& request = std::get<QJsonObject>(decoded);
        const QString op = text(request, "op");
        if (op == u"hello")
            return hello();
        if (op == u"run")
            return run(request);
        if (op == u"lend")
            return lend(request);
        send({{kError, QStringLiteral("no such op: hello, run and lend are known")}});
    }

    void hello()
    {
        QJsonArray ports;
        for (std::size_t i = 0; i < face_.nodes_.size(); ++i)
            ports.append(QJsonObject{{QStringLiteral("name"), face_.nodes_[i]->port().name},
                                     {QStringLiteral("device"), face_.devices_[i]}});
        send({{QStringLiteral("op"), QStringLiteral("hello")},
              {QStringLiteral("service"), face_.service_},
              {QStringLiteral("pid"), QCoreApplication::applicationPid()},
              {QStringLiteral("ports"), ports}});
    }

    void run(const QJsonObject& request)
    {
        const QJsonValue id = request.value(kId);
        const auto refuse = [&](const QString& why) { send({{kId, id}, {kError, why}}); };
        if (!id.isDouble())
            return refuse(QStringLiteral("a run needs a numeric id"));
        ProjectorNode* node = face_.node(text(request, "device"));
        if (!node)
            return refuse(QStringLiteral("%1 is not one of this service's ports").arg(text(request, "device")));
        const auto parsed = parseCommand(text(request, "command"));
        if (const QString* why = std::get_if<QString>(&parsed))
            return refuse(*why);
        if (waiting_ >= kMaxWaiting)
            return refuse(QStringLiteral("more than %1 commands wait on this connection").arg(kMaxWaiting));
        ++waiting_;
        node->command(std::get<Command>(parsed), [self = QPointer<Connection>(this), id](const Outcome& outcome) {
            if (!self)
                return;
            --self->waiting_;
            self->send({{kId, id}, {QStringLiteral("outcome"), outcomeToJson(outcome)}});
        });
    }

    void lend(const QJsonObject& request)
    {
        QJsonObject answer;
        if (const QJsonValue id = request.value(kId); !id.isUndefined())
            answer.insert(kId, id);
        const auto refuse = [&](const QString& why) {
            answer.insert(kError, why);
            send(answer);
        };
        ProjectorNode* node = face_.node(text(request, "device"));
        if (!node)
            return refuse(QStringLiteral("%1 is not one of this service's ports").arg(text(request, "device")));
        if (!node->lentTo().isEmpty())
            return refuse(QStringLiteral("%1 is already %2").arg(node->port().name, node->lentTo()));
        const QString to = nameOf(peer_);
        borrowed_.append(node);
        qCInfo(lcControl).noquote()
            << QStringLiteral("%1 (%2): lent to %3").arg(node->port().name, node->port().device, to);
        answer.insert(QStringLiteral("op"), QStringLiteral("lent"));
        node->lend(to, [self = QPointer<Connection>(this), answer] {
            if (self)
                self->send(answer);
        });
    }

    ControlFace& face_;
    LineConnection* line_;
    Peer peer_;
    QString counted_; // as the admission counts it
    int waiting_ = 0;
    QList<QPointer<ProjectorNode>> borrowed_;
};

ControlFace::ControlFace(QString service, std::vector<ProjectorNode*> nodes, QObject* parent)
    : QObject(parent)
    , service_(std::move(service))
    , nodes_(std::move(nodes))
    , admission_(std::make_unique<Admission>(Admission::Limits{kMaxConnections, kMaxPerUser}))
    , refusals_(new RefusalLog(lcControl(), this))
{
    for (const ProjectorNode* node : nodes_)
        devices_.push_back(canonicalDevicePath(node->port().device));
}

ControlFace::~ControlFace()
{
    notifier_.reset();
    if (listener_ >= 0)
        ::close(listener_);
    // A socket of our own is removed, if it is still ours; one that systemd
    // made stays, for the next start.
    struct stat now {};
    if (bound_ && ::lstat(QFile::encodeName(path_).constData(), &now) == 0 && now.st_ino == bound_->st_ino
        && now.st_dev == bound_->st_dev)
        ::unlink(QFile::encodeName(path_).constData());
}

ProjectorNode* ControlFace::node(const QString& device) const
{
    for (std::size_t i = 0; i < nodes_.size(); ++i)
        if (devices_[i] == device)
            return nodes_[i];
    const QString canonical = canonicalDevicePath(device); // a symlink, COM1, as the client knows it
    for (std::size_t i = 0; i < nodes_.size(); ++i)
        if (canonical != device && devices_[i] == canonical)
            return nodes_[i];
    return nullptr;
}

std::optional<QString> ControlFace::listen(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot make the folder %1").arg(folder);
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::size_t(name.size()) >= sizeof address.sun_path)
        return QStringLiteral("%1: a socket's path is at most %2 bytes").arg(path).arg(sizeof address.sun_path - 1);
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
    struct stat there {};
    if (::lstat(name.constData(), &there) == 0) {
        // Only a socket is ours to replace, and only when nobody answers there.
        if (!S_ISSOCK(there.st_mode))
            return QStringLiteral("%1 is there and is not a socket: give --control-socket another path").arg(path);
        if (answers(address))
            return QStringLiteral("another service listens at %1").arg(path);
        ::unlink(name.constData()); // left behind by one that ended without removing it
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return QStringLiteral("cannot listen at %1: %2").arg(path, qt_error_string(errno));
    // The mode is set before anyone can connect: the owner and the group.
    const mode_t mask = ::umask(0117);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::umask(mask);
    if (!bound || ::listen(fd, 64) != 0) {
        const QString why = qt_error_string(errno);
        ::close(fd);
        return QStringLiteral("cannot listen at %1: %2").arg(path, why);
    }
    bound_.emplace();
    ::lstat(name.constData(), &*bound_);
    // The group of the serial ports, so that whoever may use them may ask.
    // Under systemd the socket unit does this (SocketGroup=).
    const group* ports = ::getgrnam(kGroup);
    if (!ports || ::chown(name.constData(), uid_t(-1), ports->gr_gid) != 0)
        qCWarning(lcControl).noquote() << QStringLiteral("%1 cannot be given to the group %2 (%3): only this "
                                                         "service's own user and group can use it")
                                              .arg(path, QLatin1String(kGroup),
                                                   ports ? qt_error_string(errno) : QStringLiteral("no such group"));
    serve(fd, path);
    return std::nullopt;
}

std::optional<QString> ControlFace::adopt(int fd)
{
    sockaddr_un address{};
    socklen_t size = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0 || address.sun_family != AF_UNIX)
        return QStringLiteral("the socket systemd passed is not a Unix socket");
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    serve(fd, QFile::decodeName(address.sun_path));
    return std::nullopt;
}

void ControlFace::serve(int fd, const QString& path)
{
    listener_ = fd;
    path_ = path;
    notifier_ = std::make_unique<QSocketNotifier>(qintptr(fd), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &ControlFace::accept);
}

void ControlFace::accept()
{
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            // Out of descriptors, say: the connection waits in the backlog,
            // and asking again at once would spin.
            qCWarning(lcControl).noquote() << QStringLiteral("%1: %2").arg(path_, qt_error_string(errno));
            notifier_->setEnabled(false);
            QTimer::singleShot(1000, notifier_.get(), [notifier = notifier_.get()] { notifier->setEnabled(true); });
            return;
        }
        const Peer peer = peerOf(fd);
        const QString counted = peer.known ? QStringLiteral("user %1").arg(peer.credentials.uid) : QString();
        if (const auto full = admission_->enter(counted)) {
            refusals_->refused(QStringLiteral("full"),
                               QStringLiteral("%1: %2 was refused: %3").arg(path_, nameOf(peer), *full));
            ::close(fd);
            continue;
        }
        new Connection(*this, fd, peer, counted);
    }
}

} // namespace orvik
