#pragma once

#include <cstddef>
#include <string>

// SIGINT, SIGTERM and SIGHUP only raise a flag; the frame loop turns it into
// an orderly quit (monitor stopped, capture written, exit status 0).
//
// installQuitSignals() sets the handlers and blocks the signals in the
// calling thread, so threads started afterwards (the HID thread, the GL
// driver's threads) inherit the block and their waits are never
// interrupted; acceptQuitSignals() then unblocks them in the main thread.
//
// While an urgent notice is set, a second quit signal (the first asked for
// an orderly end) writes it to stderr and ends the process at once with
// status 1: for a user who will not wait for the result files; `cleanup`
// (async-signal-safe) first removes what is half-written. Main thread;
// the text is copied (up to 4 KiB); an empty one clears it. While a file is
// being written, `onceWritten` is the notice from the moment `filesWritten`
// (async-signal-safe, counted as each file is renamed into place with the
// signals held) counts one more file than when the notice was set: a stop
// that lands between the rename and the next notice names only what is
// truly unwritten.
//
// endAtOnceOnQuitSignal() is for commands that only read files and write
// results, with nothing to finish in order: from then on the first quit
// signal runs `cleanup` (which must be async-signal-safe), writes one line
// in the user's language (naming the files `written` says were already
// replaced, if any) and ends the process with status 128 + the signal's number (130 for
// Ctrl-C, 143 for SIGTERM, 129 for SIGHUP). It also unblocks the signals
// in the calling thread. Main thread.
void installQuitSignals(void (*cleanup)() = nullptr, std::size_t (*filesWritten)() = nullptr);
void endAtOnceOnQuitSignal(void (*cleanup)(), const char* (*written)() = nullptr);
void acceptQuitSignals();
bool quitSignalReceived();
void setUrgentQuitNotice(const std::string& line, const std::string& onceWritten = {});
