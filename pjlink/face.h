#pragma once

#include "core/clock.h"
#include "pjlink/address.h"
#include "protocol/command_words.h"

#include <QByteArray>
#include <QObject>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

class QThread;

namespace orvik {

class ProjectorNode;

namespace pjlink {

// The service's PJLink face: each projector that has an address listens
// there as a PJLink class 1 projector. Queries are answered from what the
// polls know, without a frame on the line; sets join the projector's queue
// and are answered once it acknowledged them.
//
// The servers and their clients run on a thread of the face's own, so that
// a client's question wakes only the face's descriptors, not every serial
// port's too; the projectors' states reach it as copies.
class Face : public QObject {
    Q_OBJECT
public:
    // PJLink's passwords are 1 to 32 characters.
    static constexpr qsizetype kLongestPassword = 32;
    struct Settings {
        std::optional<QByteArray> password;     // asked of every client when set
        std::chrono::milliseconds idle{30'000}; // a connection silent this long is closed
        int maxConnections = 32;                // per projector; more are closed at once
        int maxPerAddress = 8;                  // per projector from one address
        bool ownThread = true;                  // false: on the caller's thread, as tests drive it
    };

    // `clock` gives the connections' idle alarms, on the face's thread.
    Face(Settings settings, Clock& clock, QObject* parent = nullptr);
    ~Face() override;

    // Listens for the projector; the system's words when it cannot.
    std::optional<QString> serve(ProjectorNode& node, const ListenAddress& address);
    // Connections open now, over every projector.
    int connections() const;

    struct Projector;
    class Front;

private:
    // On the projectors' thread: a client's set, to the projector's queue.
    void run(Projector& projector, quint64 connection, const QList<Command>& commands);

    Settings settings_;
    std::vector<std::unique_ptr<Projector>> projectors_;
    std::unique_ptr<QThread> thread_;
    Front* front_ = nullptr;
};

} // namespace pjlink
} // namespace orvik
