#pragma once

// The reading thread comes first: every thread of the process but the HID
// thread (named "quillmark-hid") moves `steps` nice steps down, so drawing
// (the main thread and a software renderer's threads) yields to reading
// under load. Lowering one's own priority needs no privilege, unlike
// raising the HID thread's. Threads started later from the main thread
// inherit its step. Returns the number of threads moved. Main thread, after
// HIDMonitor::start().
int yieldToHIDThread(int steps);

// Where the system lets the process (root, CAP_SYS_NICE, or a real-time
// limit as an audio group often has), the HID thread moves to the lowest
// real-time priority: it then runs the moment a report wakes it, ahead of
// every ordinary thread (drawing, the display server) and behind audio and
// the kernel's interrupt threads. Nice steps alone still leave it waiting
// milliseconds behind a software renderer, and at 8 kHz the kernel's
// buffer holds only a few. True when it moved. Main thread, after
// HIDMonitor::start().
bool raiseHIDThread();
