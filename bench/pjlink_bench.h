#pragma once

namespace orvik::bench {

// orvik-gateway with 100 simulated projectors, each asked POWR ? every
// second by a PJLink client of its own: the time to each answer, the
// gateway's CPU and memory, and the frames on the lines with and without
// the clients. Then the gateway alone, polls at the default, on 100 and on
// `count` projectors with a PJLink address each: the CPU per projector at
// both and their ratio. Prints a table.
int runPjlink(const char* gatewayPath, const char* simPath, int count);

} // namespace orvik::bench
