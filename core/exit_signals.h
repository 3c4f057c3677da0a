#pragma once

namespace orvik {

// SIGTERM, SIGINT and SIGHUP (logout, kill, Ctrl+C) end the event loop with
// status 0, so that the program leaves main() as after END and its
// destructors close the serial port, which removes its lock and restores
// the line. The handler only writes a byte to a pipe; the event loop reads
// it. Call once, after the application object exists.
void quitOnTerminationSignals();

// Whether such a signal came. A signal that ends a loop of its own (a modal
// box's, before the main loop runs) leaves no loop to end later: a program
// checks this before it starts its main loop.
bool terminationRequested();

} // namespace orvik
