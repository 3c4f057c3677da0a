#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

#include <sys/stat.h>

class QSocketNotifier;

namespace orvik {

class Admission;
class ProjectorNode;
class RefusalLog;

// The service's local socket, for the other programs of the family: they
// run commands through the projectors' queues and borrow ports (see
// control_socket/messages.h). The socket lets in root and the group of the
// serial ports; the kernel says who is at the other end of each connection.
class ControlFace : public QObject {
    Q_OBJECT
public:
    // Connections served at once, and from one user; more are closed at once.
    static constexpr int kMaxConnections = 256;
    static constexpr int kMaxPerUser = 64;

    // `service` names this program to its clients. The nodes stay the
    // service's: they outlive the face.
    ControlFace(QString service, std::vector<ProjectorNode*> nodes, QObject* parent = nullptr);
    ~ControlFace() override;

    // Listens at `path`, making its folder if it is missing, and removes
    // the socket at the end. A socket left there by a service that ended is
    // replaced; anything else at `path` is left alone. The error if it
    // cannot: another service listens there, say.
    std::optional<QString> listen(const QString& path);
    // Serves a listening socket made by systemd (socket activation): its
    // mode and group are the socket unit's, and it stays at the end.
    std::optional<QString> adopt(int fd);

private:
    class Connection;

    ProjectorNode* node(const QString& device) const;
    void serve(int fd, const QString& path);
    void accept();

    QString service_;
    std::vector<ProjectorNode*> nodes_;
    std::vector<QString> devices_; // each node's port as clients name it
    int listener_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::optional<struct stat> bound_; // the socket this face made, to remove at the end
    QString path_;
    std::unique_ptr<Admission> admission_;
    RefusalLog* refusals_;
};

} // namespace orvik
