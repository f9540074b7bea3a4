#include "capture/win32_thread_priority.h"

#include <windows.h>

namespace Vardel::win32 {

void raiseCurrentThreadPriority()
{
    // A refusal leaves the thread where it was: frames still flow, with more jitter.
    (void)::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
}

} // namespace Vardel::win32
