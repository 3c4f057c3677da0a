#include "bench/far_end.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace orvik::bench {
namespace {
sim::PtyProjector::Options passive()
{
    sim::PtyProjector::Options o;
    o.listen = false;
    return o;
}
} // namespace

FarEnd::FarEnd()
    : pty_(passive())
    , stopFd_(::eventfd(0, EFD_CLOEXEC))
    , reader_([this] { readLoop(); })
{
}

FarEnd::~FarEnd()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(stopFd_, &one, sizeof one);
    reader_.join();
    ::close(stopFd_);
}

// Sleeps until bytes come or the destructor says stop: a reader that woke
// on a time-out would take the panel's core now and then, in the middle of
// what is being measured.
void FarEnd::readLoop()
{
    char buffer[4096];
    for (;;) {
        pollfd pfd[2] = {{pty_.masterFd(), POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(pfd, 2, -1) <= 0)
            continue;
        if (pfd[1].revents)
            return;
        if (!(pfd[0].revents & POLLIN))
            continue;
        const SteadyTime now = std::chrono::steady_clock::now();
        const ssize_t n = ::read(pty_.masterFd(), buffer, sizeof buffer);
        if (n <= 0)
            continue;
        std::lock_guard lock(mutex_);
        for (ssize_t i = 0; i < n; ++i) {
            if (!inFrame_) {
                partial_ = Frame{now, {}};
                inFrame_ = true;
            }
            partial_.bytes += buffer[i];
            if (buffer[i] == '\r') {
                frames_.push_back(std::move(partial_));
                inFrame_ = false;
            }
        }
    }
}

std::size_t FarEnd::frameCount() const
{
    std::lock_guard lock(mutex_);
    return frames_.size();
}

std::vector<FarEnd::Frame> FarEnd::takeFrames()
{
    std::lock_guard lock(mutex_);
    return std::exchange(frames_, {});
}

} // namespace orvik::bench
