#pragma once

#include <chrono>

namespace orvik::bench {

// CPU time used by this process so far (user and system).
std::chrono::microseconds cpuTime();
// Resident memory now and at its peak, in kB.
long residentKb();
long peakResidentKb();

} // namespace orvik::bench
