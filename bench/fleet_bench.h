#pragma once

namespace orvik::bench {

// orvik-send against simulated projectors that answer 20 ms after each
// frame: wall time and CPU on 1 to `count` projectors, the CPU per
// projector at 100 and at `count`, a shell loop's worth of single runs,
// process start to first byte, the system calls of a one-port run, and peak
// memory. Prints a table.
int runFleet(const char* sendPath, const char* simPath, int count);

} // namespace orvik::bench
