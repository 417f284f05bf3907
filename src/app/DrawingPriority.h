#pragma once

// The reading thread comes first: every thread of the process but the HID
// thread (named "quillmark-hid") moves `steps` nice steps down, so drawing
// (the main thread and a software renderer's threads) yields to reading
// under load. Lowering one's own priority needs no privilege, unlike
// raising the HID thread's. Threads started later from the main thread
// inherit its step. Returns the number of threads moved. Main thread, after
// HIDMonitor::start().
int yieldToHIDThread(int steps);
