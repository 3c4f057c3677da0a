#pragma once

#include "core/clock.h"
#include "pjlink/address.h"

#include <QByteArray>
#include <QObject>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

class QTcpServer;

namespace orvik {

class ProjectorNode;

namespace pjlink {

class Connection;

// The service's PJLink face: each projector that has an address listens
// there as a PJLink class 1 projector. Queries are answered from what the
// polls know, without a frame on the line; sets join the projector's queue
// and are answered once it acknowledged them.
class Face : public QObject {
    Q_OBJECT
public:
    struct Settings {
        std::optional<QByteArray> password;     // asked of every client when set
        std::chrono::milliseconds idle{30'000}; // a connection silent this long is closed
        int maxConnections = 32;                // per projector; more are closed at once
    };

    Face(Settings settings, Clock& clock, QObject* parent = nullptr);
    ~Face() override;

    // Listens for the projector; the system's words when it cannot.
    std::optional<QString> serve(ProjectorNode& node, const ListenAddress& address);
    // Connections open now, over every projector.
    int connections() const;

private:
    struct Listening {
        ProjectorNode* node;
        QTcpServer* server;
        int connections = 0;
        bool full = false; // said once until every client has gone
    };
    void accept(Listening& listening);

    Settings settings_;
    Clock& clock_;
    std::vector<std::unique_ptr<Listening>> listening_;
};

} // namespace pjlink
} // namespace orvik
