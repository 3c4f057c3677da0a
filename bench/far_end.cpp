#include "bench/far_end.h"

#include <poll.h>
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
    , reader_([this] { readLoop(); })
{
}

FarEnd::~FarEnd()
{
    stop_ = true;
    reader_.join();
}

void FarEnd::readLoop()
{
    char buffer[4096];
    while (!stop_) {
        pollfd pfd{pty_.masterFd(), POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0 || !(pfd.revents & POLLIN))
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
