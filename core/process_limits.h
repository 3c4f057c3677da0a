#pragma once

#include <QString>

#include <cstddef>
#include <optional>

namespace orvik {

// Descriptors a program keeps for itself beyond those of its ports: its
// libraries, standard streams, event loop, logs and sockets.
constexpr std::size_t kSpareDescriptors = 64;
// Descriptors one open port takes: the device, and its lock file for the
// moment it is written.
constexpr std::size_t kDescriptorsPerPort = 2;

// Raises the soft limit on open files to the hard one: a program that opens
// hundreds of ports (or simulates hundreds of projectors) needs more than the
// usual 1024 descriptors. Where even the hard limit is below `needed`, what
// to do about it, naming the limit; nothing where there is no such limit.
std::optional<QString> raiseOpenFilesLimit(std::size_t needed = 0);

} // namespace orvik
