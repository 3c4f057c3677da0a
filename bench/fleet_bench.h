#pragma once

namespace orvik::bench {

// orvik-send against simulated projectors that answer 20 ms after each
// frame: wall time and CPU on 1 to 500 projectors, a shell loop's worth of
// single runs, process start to first byte, and peak memory. Prints a table.
int runFleet(const char* sendPath, const char* simPath);

} // namespace orvik::bench
