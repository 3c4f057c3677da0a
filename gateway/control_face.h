#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class QLocalServer;

namespace orvik {

class ProjectorNode;

// The service's local socket, for the other programs of the family: they
// run commands through the projectors' queues and borrow ports (see
// control_socket/messages.h). The socket lets in root and the group of the
// serial ports.
class ControlFace : public QObject {
    Q_OBJECT
public:
    // Connections served at once; more are closed at once.
    static constexpr int kMaxConnections = 256;

    // `service` names this program to its clients. The nodes stay the
    // service's: they outlive the face.
    ControlFace(QString service, std::vector<ProjectorNode*> nodes, QObject* parent = nullptr);
    ~ControlFace() override;

    // Listens at `path`, making its folder if it is missing. The error if it
    // cannot: another service listens there, say.
    std::optional<QString> listen(const QString& path);

private:
    class Connection;

    ProjectorNode* node(const QString& device) const;

    QString service_;
    std::vector<ProjectorNode*> nodes_;
    std::vector<QString> devices_; // each node's port as clients name it
    std::unique_ptr<QLocalServer> server_;
    QString path_;
    int connections_ = 0;
};

} // namespace orvik
