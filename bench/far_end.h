#pragma once

#include "tools/sim/pty_projector.h"

#include <QByteArray>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace orvik::bench {

using SteadyTime = std::chrono::steady_clock::time_point;

// The far end of the line for measuring: a pty whose master is read on its
// own thread, so that each frame gets the time its first byte became
// readable, whatever the panel's thread is doing.
class FarEnd {
public:
    struct Frame {
        SteadyTime firstByte;
        QByteArray bytes;
    };

    FarEnd();
    ~FarEnd();

    QString devicePath() const { return pty_.devicePath(); }
    bool send(const QByteArray& bytes) { return pty_.send(bytes); }
    int masterFd() const { return pty_.masterFd(); }

    std::size_t frameCount() const;
    std::vector<Frame> takeFrames();

private:
    void readLoop();

    sim::PtyProjector pty_;
    int stopFd_;
    mutable std::mutex mutex_;
    std::vector<Frame> frames_;
    Frame partial_;
    bool inFrame_ = false;
    std::thread reader_;
};

} // namespace orvik::bench
