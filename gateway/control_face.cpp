#include "gateway/control_face.h"

#include "control_socket/messages.h"
#include "core/logging.h"
#include "link/port_map.h"
#include "service/projector_node.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <grp.h>
#include <unistd.h>

namespace orvik {

using namespace control;

namespace {

const QString kError = QStringLiteral("error");
const QString kId = QStringLiteral("id");

QString text(const QJsonObject& object, const char* key) { return object.value(QLatin1String(key)).toString(); }

// A name another program gives itself, fit to be shown: printable, short.
QString shown(const QString& name)
{
    QString out;
    for (const QChar c : name.left(64))
        out += c.isPrint() ? c : u'?';
    return out.isEmpty() ? QStringLiteral("another program") : out;
}

} // namespace

// One client: its requests in order, its answers as they come, and the
// ports it borrowed, given back when it goes however it goes.
class ControlFace::Connection : public QObject {
public:
    Connection(ControlFace& face, QLocalSocket* socket)
        : QObject(&face)
        , face_(face)
        , socket_(socket)
    {
        socket_->setParent(this);
        socket_->setReadBufferSize(4 * kMaxLine);
        connect(socket_, &QLocalSocket::readyRead, this, &Connection::onReadable);
        connect(socket_, &QLocalSocket::disconnected, this, &Connection::end);
    }

    void end()
    {
        if (ended_)
            return;
        ended_ = true;
        for (const QPointer<ProjectorNode>& node : std::exchange(borrowed_, {}))
            if (node) {
                qCInfo(lcControl).noquote()
                    << QStringLiteral("%1 (%2): given back").arg(node->port().name, node->port().device);
                node->takeBack();
            }
        --face_.connections_;
        socket_->abort();
        deleteLater();
    }

private:
    void onReadable()
    {
        while (!ended_ && socket_->bytesAvailable() > 0) {
            reader_.append(socket_->read(kMaxLine));
            while (!ended_) {
                const auto line = reader_.next();
                if (!line)
                    break;
                handle(*line);
            }
            if (!ended_ && reader_.overflowed()) {
                send({{kError, QStringLiteral("a line longer than %1 bytes").arg(kMaxLine)}});
                socket_->flush();
                return end();
            }
        }
    }

    void send(const QJsonObject& message) { socket_->write(encode(message)); }

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
            if (!self || self->ended_)
                return;
            --self->waiting_;
            self->send({{kId, id}, {QStringLiteral("outcome"), outcomeToJson(outcome)}});
        });
    }

    void lend(const QJsonObject& request)
    {
        ProjectorNode* node = face_.node(text(request, "device"));
        if (!node)
            return send(
                {{kError, QStringLiteral("%1 is not one of this service's ports").arg(text(request, "device"))}});
        if (!node->lentTo().isEmpty())
            return send({{kError, QStringLiteral("%1 is already %2").arg(node->port().name, node->lentTo())}});
        const QString to = QStringLiteral("%1 (process %2)")
                               .arg(shown(text(request, "to")))
                               .arg(request.value(QStringLiteral("pid")).toInteger());
        borrowed_.append(node);
        qCInfo(lcControl).noquote()
            << QStringLiteral("%1 (%2): lent to %3").arg(node->port().name, node->port().device, to);
        node->lend(to, [self = QPointer<Connection>(this)] {
            if (self && !self->ended_) {
                self->send({{QStringLiteral("op"), QStringLiteral("lent")}});
                self->socket_->flush();
            }
        });
    }

    ControlFace& face_;
    QLocalSocket* socket_;
    LineReader reader_;
    int waiting_ = 0;
    QList<QPointer<ProjectorNode>> borrowed_;
    bool ended_ = false;
};

ControlFace::ControlFace(QString service, std::vector<ProjectorNode*> nodes, QObject* parent)
    : QObject(parent)
    , service_(std::move(service))
    , nodes_(std::move(nodes))
{
    for (const ProjectorNode* node : nodes_)
        devices_.push_back(canonicalDevicePath(node->port().device));
}

ControlFace::~ControlFace()
{
    if (server_)
        server_->close(); // removes the socket
}

ProjectorNode* ControlFace::node(const QString& device) const
{
    for (std::size_t i = 0; i < nodes_.size(); ++i)
        if (devices_[i] == device)
            return nodes_[i];
    return nullptr;
}

std::optional<QString> ControlFace::listen(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot make the folder %1").arg(folder);
    if (QFileInfo::exists(path)) {
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(1000))
            return QStringLiteral("another service listens at %1").arg(path);
        QLocalServer::removeServer(path); // left behind by one that ended without closing it
    }
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption | QLocalServer::GroupAccessOption);
    if (!server_->listen(path))
        return QStringLiteral("cannot listen at %1: %2").arg(path, server_->errorString());
    path_ = path;
    // The group of the serial ports, so that whoever may use them may ask.
    const group* ports = ::getgrnam(kGroup);
    if (!ports || ::chown(QFile::encodeName(path).constData(), uid_t(-1), ports->gr_gid) != 0)
        qCWarning(lcControl).noquote() << QStringLiteral("%1 cannot be given to the group %2: only this service's own "
                                                         "user and group can use it")
                                              .arg(path, QLatin1String(kGroup));
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            if (connections_ >= kMaxConnections) {
                qCWarning(lcControl).noquote()
                    << QStringLiteral("%1: more than %2 connections; one was closed").arg(path_).arg(kMaxConnections);
                socket->abort();
                socket->deleteLater();
                continue;
            }
            ++connections_;
            new Connection(*this, socket);
        }
    });
    return std::nullopt;
}

} // namespace orvik
