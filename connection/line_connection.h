#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

class QSocketNotifier;
class QTimer;

namespace orvik {

// Cuts a byte stream into lines ended by any of `ends` (CR LF counting as
// one end when both are), each at most `longestLine` bytes with its end.
// A line over that is known as soon as its bytes are in, however they
// come: then the stream is no good.
class LineSplitter {
public:
    LineSplitter(qsizetype longestLine, QByteArray ends);
    void append(QByteArrayView bytes) { buffer_ += bytes; }
    // The next whole line, without its end.
    std::optional<QByteArray> next();
    // No more lines: one is too long.
    bool tooLong() const { return tooLong_; }
    // Bytes it takes before the line it holds is known to be too long.
    qsizetype room() const { return longest_ + 1 - buffer_.size(); }
    void clear() { buffer_.clear(); }

private:
    qsizetype longest_;
    QByteArray ends_;
    QByteArray buffer_;
    bool afterCr_ = false; // the last line ended in CR: an LF next is its end too
    bool tooLong_ = false;
};

// One client of a face, or one connection to the service: a stream socket
// read a line at a time, with everything it may take bounded. A line over
// the limit is refused as soon as it is known, however its bytes arrive;
// while more than `mostUnsent` bytes of answers wait for the peer to read
// them, nothing more is read from it, and a peer that leaves them unread
// for `unreadFor` is closed. Written straight to the system, each answer
// in one write of its own while nothing waits before it.
class LineConnection : public QObject {
    Q_OBJECT
public:
    struct Limits {
        qsizetype longestLine = 16 * 1024;         // bytes, its end included
        QByteArray ends = "\n";                    // any of them ends a line; CR LF counts once
        qsizetype mostUnsent = 8 * 1024;           // answers waiting before reading stops
        std::chrono::milliseconds unreadFor{5000}; // left unread this long: closed
    };
    // How it ended: the peer closed or failed, left its answers unread, or
    // we closed it (close(), abort(), a line too long).
    enum class End { Closed, Failed, Unread, Ours };

    // Takes `fd`, a connected non-blocking stream socket, and closes it at the end.
    LineConnection(int fd, Limits limits, QObject* parent = nullptr);
    ~LineConnection() override;

    int descriptor() const { return fd_; }
    // Queues `bytes` after whatever waits; nothing once ended.
    void send(const QByteArray& bytes);
    // Holds the lines back, e.g. while the last one is being answered; they
    // are delivered again after resume(), from the event loop.
    void hold();
    void resume();
    // Ends once what waits has gone (or been left unread too long).
    void close();
    // Ends now.
    void abort();
    bool hasEnded() const { return ended_; }
    qsizetype unsent() const { return unsent_.size(); }

    // Reads what the system holds now (for a caller that waited with poll()).
    void readNow();

signals:
    // A whole line, without its end.
    void lineReceived(const QByteArray& line);
    // A line over the limit: nothing more is read, and once this returns
    // the connection closes (what was sent from here still goes).
    void lineTooLong();
    // Once, however it ended. The owner deletes it, later.
    void ended(orvik::LineConnection::End why);

private:
    void deliver();
    void flush();
    void updateNotifiers();
    void finish(End why);

    int fd_;
    Limits limits_;
    std::unique_ptr<QSocketNotifier> readable_;
    std::unique_ptr<QSocketNotifier> writable_;
    QTimer* unread_;
    LineSplitter in_;   // read, not yet delivered: at most one line and a bit
    QByteArray unsent_; // taken, not yet with the system
    bool held_ = false;
    bool closing_ = false;
    bool eof_ = false;
    bool ended_ = false;
};

} // namespace orvik
