#pragma once

#include <QHash>
#include <QLoggingCategory>
#include <QObject>
#include <QString>

#include <chrono>

class QTimer;

namespace orvik {

// Says a refusal at most once a minute per cause, with how many there were:
// a flood of them is a few lines in the log, not one line each.
class RefusalLog : public QObject {
public:
    static constexpr std::chrono::minutes kEvery{1};

    explicit RefusalLog(const QLoggingCategory& category, QObject* parent = nullptr);
    // `cause` groups the refusals; `text` says the latest of them.
    void refused(const QString& cause, const QString& text);

private:
    struct Cause {
        QString last;
        int unsaid = 0;
        QTimer* timer = nullptr;
    };
    void say(Cause& cause, int count);

    const QLoggingCategory& category_;
    QHash<QString, Cause> causes_;
};

// Who is let in: at most so many connections at once, and so many from one
// peer (an address, a user), so that one client cannot take every place.
class Admission {
public:
    struct Limits {
        int total = 32;
        int perPeer = 8;
    };
    explicit Admission(Limits limits)
        : limits_(limits)
    {
    }

    // Why `peer` is not let in, or nothing (and it counts until left()).
    std::optional<QString> enter(const QString& peer);
    void left(const QString& peer);
    int connections() const { return total_; }

private:
    Limits limits_;
    int total_ = 0;
    QHash<QString, int> perPeer_;
};

} // namespace orvik

namespace orvik {

// Peers that failed to authenticate, held back for a time that doubles with
// each failure in a row, up to a cap: guessing goes at a few tries a
// minute. A peer that gets it right, or stays away long enough, is forgotten.
class Backoff {
public:
    static constexpr std::chrono::milliseconds kFirst{500};
    static constexpr std::chrono::milliseconds kLongest{30'000};
    static constexpr std::chrono::minutes kForgetAfter{10}; // after the end of its wait
    static constexpr qsizetype kMostPeers = 4096;           // the table's bound; the oldest go first

    // How long `peer` waits still, at `now`.
    std::chrono::milliseconds wait(const QString& peer, std::chrono::milliseconds now) const;
    void failed(const QString& peer, std::chrono::milliseconds now);
    void succeeded(const QString& peer) { peers_.remove(peer); }

private:
    struct Peer {
        int failures = 0;
        std::chrono::milliseconds until{0};
    };
    QHash<QString, Peer> peers_;
};

} // namespace orvik
