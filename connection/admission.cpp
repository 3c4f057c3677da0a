#include "connection/admission.h"

#include <QTimer>

namespace orvik {

RefusalLog::RefusalLog(const QLoggingCategory& category, QObject* parent)
    : QObject(parent)
    , category_(category)
{
}

void RefusalLog::refused(const QString& cause, const QString& text)
{
    Cause& c = causes_[cause];
    c.last = text;
    if (c.timer && c.timer->isActive()) {
        ++c.unsaid; // said at the end of the minute
        return;
    }
    say(c, 1);
    if (!c.timer) {
        c.timer = new QTimer(this);
        c.timer->setSingleShot(true);
        connect(c.timer, &QTimer::timeout, this, [this, cause] {
            Cause& ended = causes_[cause];
            if (ended.unsaid > 0) {
                say(ended, ended.unsaid);
                ended.timer->start(kEvery);
            }
        });
    }
    c.timer->start(kEvery);
}

void RefusalLog::say(Cause& cause, int count)
{
    if (count == 1)
        qCWarning(category_).noquote() << cause.last;
    else
        qCWarning(category_).noquote() << QStringLiteral("%1 (%2 times in the last minute)").arg(cause.last).arg(count);
    cause.unsaid = 0;
}

std::optional<QString> Admission::enter(const QString& peer)
{
    if (total_ >= limits_.total)
        return QStringLiteral("%1 connections at once").arg(limits_.total);
    int& mine = perPeer_[peer];
    if (mine >= limits_.perPeer) {
        return QStringLiteral("%1 connections at once from %2").arg(limits_.perPeer).arg(peer);
    }
    ++mine;
    ++total_;
    return std::nullopt;
}

void Admission::left(const QString& peer)
{
    --total_;
    const auto it = perPeer_.find(peer);
    if (it != perPeer_.end() && --*it <= 0)
        perPeer_.erase(it);
}

} // namespace orvik

namespace orvik {

std::chrono::milliseconds Backoff::wait(const QString& peer, std::chrono::milliseconds now) const
{
    const auto it = peers_.constFind(peer);
    return it == peers_.cend() || it->until <= now ? std::chrono::milliseconds(0) : it->until - now;
}

void Backoff::failed(const QString& peer, std::chrono::milliseconds now)
{
    if (!peers_.contains(peer) && peers_.size() >= kMostPeers) {
        // Those whose wait ended long ago first; else any one.
        auto oldest = peers_.begin();
        for (auto it = peers_.begin(); it != peers_.end(); ++it)
            if (it->until < oldest->until)
                oldest = it;
        peers_.erase(oldest);
    }
    Peer& p = peers_[peer];
    if (now - p.until >= kForgetAfter)
        p = Peer{};
    p.failures = std::min(p.failures + 1, 16);
    const auto wait = std::min<std::chrono::milliseconds>(kFirst * (1 << (p.failures - 1)), kLongest);
    p.until = std::max(p.until, now) + wait;
    if (p.until - now > kLongest)
        p.until = now + kLongest;
}

} // namespace orvik
