#pragma once

// The frame thread's set-up on Windows. Free of Qt, like the device walk.

namespace Vardel::win32 {

// Names the calling thread "korvane-frames" where the system can (debuggers and profilers
// show it), and raises it to the highest priority of its process's class short of
// time-critical; both best effort.
void prepareFrameThread();

} // namespace Vardel::win32
