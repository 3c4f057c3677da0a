#pragma once

#include "control_socket/messages.h"
#include "protocol/outcome.h"

#include <QHash>
#include <QList>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace orvik {
class LineConnection;
}

namespace orvik::control {

// A connection to the service that holds ports: runs commands on its
// projectors, or borrows a port. Requests of both kinds go on one
// connection, each answer matched to its request by its id.
class ServiceClient : public QObject {
    Q_OBJECT
public:
    struct Held {
        QString name;
        QString device; // as the service opens it: a canonical path, or a device server's address
    };
    using Done = std::function<void(const Outcome&)>;
    // Nothing when the port was lent; else why not.
    using Lent = std::function<void(const std::optional<QString>& refused)>;

    // Connects to the socket at `path` without waiting. Nothing when no
    // service listens there; then `error` says why when one does but would
    // not let this user in.
    static std::unique_ptr<ServiceClient> open(const QString& path, QString* error);
    // Connects and says hello, waiting at most `wait` for the answer: for a
    // program before its event loop runs.
    static std::unique_ptr<ServiceClient> connect(const QString& path, std::chrono::milliseconds wait, QString* error);
    ~ServiceClient() override;

    // "orvik-gateway (process N)", after hello.
    QString service() const { return service_; }
    const QList<Held>& held() const { return held_; }
    // The service's name for `device` (COM1 resolved, a symlink or its
    // target), if it holds it.
    std::optional<QString> holds(const QString& device) const;
    bool connected() const { return gone_.isEmpty(); }
    // Why not, once gone.
    QString gone() const { return gone_; }

    // `done` is told once: the outcome, or a port failure saying why the
    // service could not be asked.
    void run(const QString& device, const QString& command, Done done);
    // Asks the service to finish the exchange in progress on `device` and
    // close the port; `lent` is told once. The port stays lent until this
    // client is destroyed or the process ends.
    void lend(const QString& device, Lent lent);

signals:
    // The service went away or broke the protocol; every waiting request was told.
    void lost(const QString& why);

private:
    ServiceClient(QString path, int fd);
    void request(QJsonObject message, std::function<void(const QJsonObject&)> answer);
    void onLine(const QByteArray& line);
    void fail(const QString& why);

    QString path_;
    LineConnection* connection_;
    QString service_;
    QList<Held> held_;
    std::optional<QJsonObject> hello_; // the answer to hello, until connect() took it
    QHash<qint64, std::function<void(const QJsonObject&)>> waiting_;
    qint64 nextId_ = 1;
    QString gone_;
};

} // namespace orvik::control
