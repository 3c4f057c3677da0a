#pragma once

#include "control_socket/messages.h"
#include "protocol/outcome.h"

#include <QHash>
#include <QList>
#include <QLocalSocket>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

namespace orvik::control {

// A connection to the service that holds ports: runs commands on its
// projectors, or borrows a port. Made before the event loop runs; after
// that nothing waits on it.
class ServiceClient : public QObject {
    Q_OBJECT
public:
    struct Held {
        QString name;
        QString device; // as the service opens it: a canonical path, or a device server's address
    };
    using Done = std::function<void(const Outcome&)>;

    // Connects to the socket at `path` and says hello, waiting at most
    // `wait`. Nothing when no service listens there; then `error` says why
    // when one does but would not talk (a user outside the group, say).
    static std::unique_ptr<ServiceClient> connect(const QString& path, std::chrono::milliseconds wait, QString* error);
    ~ServiceClient() override;

    // "orvik-gateway (process N)".
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
    // Asks the service to finish the exchange in progress and close the
    // port; waits at most `wait`. The port is lent until this client is
    // destroyed or the process ends. The error, if it was not lent.
    std::optional<QString> lend(const QString& device, const QString& to, qint64 pid, std::chrono::milliseconds wait);

signals:
    // The service went away or broke the protocol; every waiting run was told.
    void lost(const QString& why);

private:
    explicit ServiceClient(QString path);
    // Waits for the next whole message, at most until `deadline`.
    std::optional<QJsonObject> await(std::chrono::steady_clock::time_point deadline, QString* error);
    void onReadable();
    void fail(const QString& why);

    QString path_;
    QLocalSocket socket_;
    LineReader reader_;
    QString service_;
    QList<Held> held_;
    QHash<qint64, Done> waiting_;
    qint64 nextId_ = 1;
    QString gone_;
};

} // namespace orvik::control
