#pragma once

#include <optional>

#include "results/TestVerdict.h"

// The whole test's verdict so far, for the window's verdict line. Judged by
// results::completeRecord, the step a saved result takes, on a worker thread
// at most a few times a second, so no frame waits for it. Main thread.

// Starts a judgement when the last one is done, its time has come and new
// reports arrived; takes a finished one's verdict. Each frame.
void refreshWindowVerdict(double now, bool testActive);

// When, on the clock refreshWindowVerdict is given, a frame would change the
// verdict line though no event came: `now` once a judgement has finished
// (it is shown in the next frame), the moment the next may start while
// reports wait to be judged; a huge number otherwise.
double windowVerdictDueAt(double now, bool testActive);

// The newest verdict; nullopt before the first one of a test.
const std::optional<results::TestVerdict>& windowVerdict();

// The test was reset or started afresh: forget the verdict, and drop the
// one being judged when it comes.
void resetWindowVerdict();
