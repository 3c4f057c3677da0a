#include "connection/line_connection.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

namespace orvik {

LineSplitter::LineSplitter(qsizetype longestLine, QByteArray ends)
    : longest_(longestLine)
    , ends_(std::move(ends))
{
}

std::optional<QByteArray> LineSplitter::next()
{
    if (tooLong_)
        return std::nullopt;
    if (afterCr_ && buffer_.startsWith('\n') && ends_.contains('\n'))
        buffer_.remove(0, 1);
    if (!buffer_.isEmpty())
        afterCr_ = false;
    qsizetype end = -1;
    for (qsizetype i = 0; i < buffer_.size() && i < longest_ && end < 0; ++i)
        if (ends_.contains(buffer_[i]))
            end = i;
    if (end < 0) {
        tooLong_ = buffer_.size() >= longest_;
        return std::nullopt;
    }
    QByteArray line = buffer_.left(end);
    afterCr_ = buffer_[end] == '\r';
    buffer_.remove(0, end + 1);
    return line;
}

LineConnection::LineConnection(int fd, Limits limits, QObject* parent)
    : QObject(parent)
    , fd_(fd)
    , limits_(std::move(limits))
    , readable_(std::make_unique<QSocketNotifier>(qintptr(fd), QSocketNotifier::Read))
    , writable_(std::make_unique<QSocketNotifier>(qintptr(fd), QSocketNotifier::Write))
    , unread_(new QTimer(this))
    , in_(limits_.longestLine, limits_.ends)
{
    writable_->setEnabled(false);
    unread_->setSingleShot(true);
    connect(readable_.get(), &QSocketNotifier::activated, this, &LineConnection::readNow);
    connect(writable_.get(), &QSocketNotifier::activated, this, &LineConnection::flush);
    connect(unread_, &QTimer::timeout, this, [this] { finish(End::Unread); });
}

LineConnection::~LineConnection()
{
    readable_.reset();
    writable_.reset();
    ::close(fd_);
}

void LineConnection::send(const QByteArray& bytes)
{
    if (ended_ || bytes.isEmpty())
        return;
    unsent_ += bytes;
    flush();
}

void LineConnection::flush()
{
    while (!unsent_.isEmpty() && !ended_) {
        const ssize_t n = ::send(fd_, unsent_.constData(), std::size_t(unsent_.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            unsent_.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        return finish(End::Failed);
    }
    if (unsent_.isEmpty())
        unsent_ = QByteArray(); // its memory too
    if (closing_ && unsent_.isEmpty())
        return finish(End::Ours);
    updateNotifiers();
}

void LineConnection::updateNotifiers()
{
    if (ended_)
        return;
    const bool full = unsent_.size() > limits_.mostUnsent;
    readable_->setEnabled(!full && !held_ && !closing_ && !eof_);
    writable_->setEnabled(!unsent_.isEmpty());
    // Closing, what waits has the same time to go as a full buffer has.
    if (!full && !closing_)
        unread_->stop();
    else if (!unread_->isActive())
        unread_->start(limits_.unreadFor);
}

void LineConnection::readNow()
{
    if (ended_ || closing_ || eof_ || held_ || unsent_.size() > limits_.mostUnsent)
        return;
    // Never more than one line too long: a flood stays in the system's buffers.
    char buffer[4096];
    const qsizetype room = std::min<qsizetype>(qsizetype(sizeof buffer), in_.room());
    const ssize_t n = room > 0 ? ::recv(fd_, buffer, std::size_t(room), MSG_DONTWAIT) : 0;
    if (n > 0)
        in_.append(QByteArrayView(buffer, qsizetype(n)));
    else if (n == 0 && room > 0)
        eof_ = true;
    else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        return finish(End::Failed);
    deliver();
    if (eof_ && !ended_ && !closing_)
        finish(End::Closed);
}

void LineConnection::deliver()
{
    while (!ended_ && !closing_ && !held_) {
        const auto line = in_.next();
        if (line) {
            emit lineReceived(*line);
            continue;
        }
        if (in_.tooLong()) {
            emit lineTooLong();
            close();
        }
        return;
    }
}

void LineConnection::hold()
{
    held_ = true;
    updateNotifiers();
}

void LineConnection::resume()
{
    held_ = false;
    updateNotifiers();
    QMetaObject::invokeMethod(this, &LineConnection::deliver, Qt::QueuedConnection);
}

void LineConnection::close()
{
    if (ended_ || closing_)
        return;
    closing_ = true;
    in_.clear();
    ::shutdown(fd_, SHUT_RD);
    flush();
}

void LineConnection::abort() { finish(End::Ours); }

void LineConnection::finish(End why)
{
    if (ended_)
        return;
    ended_ = true;
    unread_->stop();
    readable_->setEnabled(false);
    writable_->setEnabled(false);
    ::shutdown(fd_, SHUT_RDWR);
    emit ended(why);
}

} // namespace orvik
