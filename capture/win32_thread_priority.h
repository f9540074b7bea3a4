#pragma once

// The frame thread's scheduling priority on Windows. Free of Qt, like the device walk.

namespace Vardel::win32 {

// Raises the calling thread to the highest priority of its process's class short of
// time-critical; best effort.
void raiseCurrentThreadPriority();

} // namespace Vardel::win32
