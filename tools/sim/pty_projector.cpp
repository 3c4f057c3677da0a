#include "tools/sim/pty_projector.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace orvik::sim {

PtyProjector::PtyProjector(Options options, QObject* parent)
    : QObject(parent)
    , options_(options)
{
    model_.setHours(options.hours);
    model_.setWarmUp(options.warmUp);
    model_.setCoolDown(options.coolDown);
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        hangUp();
        return;
    }
    path_ = QString::fromLocal8Bit(::ptsname(master_));
    // Keep one descriptor of the terminal side open: without it the master
    // reports a hang-up every time the panel closes the port, and reading it
    // would spin. Raw mode, so nothing is echoed or translated before the
    // panel sets its own.
    slaveKeeper_ = ::open(path_.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slaveKeeper_ >= 0) {
        termios tio{};
        if (::tcgetattr(slaveKeeper_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(slaveKeeper_, TCSANOW, &tio);
        }
    }
    if (!options_.listen)
        return;
    notifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { onReadable(); });
}

PtyProjector::~PtyProjector() { hangUp(); }

void PtyProjector::hangUp()
{
    if (notifier_) {
        notifier_->setEnabled(false);
        delete notifier_;
        notifier_ = nullptr;
    }
    if (slaveKeeper_ >= 0)
        ::close(slaveKeeper_);
    if (master_ >= 0)
        ::close(master_);
    slaveKeeper_ = master_ = -1;
}

void PtyProjector::onReadable()
{
    char buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        notifier_->setEnabled(false); // hang-up: nothing more will come
        return;
    }
    const QByteArray bytes(buffer, n);
    if (options_.record)
        received_ += bytes;
    emit bytesReceived(bytes);
    if (options_.silent)
        return;
    for (const QByteArray& answer : model_.feed(bytes)) {
        if (options_.delay.count() > 0)
            QTimer::singleShot(options_.delay, this, [this, answer] { reply(answer); });
        else
            reply(answer);
    }
}

void PtyProjector::reply(const QByteArray& bytes)
{
    if (options_.splitAt > 0 && options_.splitAt < bytes.size()) {
        send(bytes.left(options_.splitAt));
        const QByteArray rest = bytes.mid(options_.splitAt);
        QTimer::singleShot(options_.splitGap, this, [this, rest] { send(rest); });
        return;
    }
    send(bytes);
}

bool PtyProjector::send(const QByteArray& bytes)
{
    if (master_ < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += n;
    }
    return true;
}

} // namespace orvik::sim
