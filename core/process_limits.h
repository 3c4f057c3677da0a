#pragma once

namespace orvik {

// Raises the soft limit on open files to the hard one: a program that opens
// hundreds of ports (or simulates hundreds of projectors) needs more than the
// usual 1024 descriptors. Does nothing where there is no such limit.
void raiseOpenFilesLimit();

} // namespace orvik
