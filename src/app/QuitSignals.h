#pragma once

// SIGINT, SIGTERM and SIGHUP only raise a flag; the frame loop turns it into
// an orderly quit (monitor stopped, capture written, exit status 0).
//
// installQuitSignals() sets the handlers and blocks the signals in the
// calling thread, so threads started afterwards (the HID thread, the GL
// driver's threads) inherit the block and their waits are never
// interrupted; acceptQuitSignals() then unblocks them in the main thread.
void installQuitSignals();
void acceptQuitSignals();
bool quitSignalReceived();
