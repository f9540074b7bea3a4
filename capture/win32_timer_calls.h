#pragma once

// The calls that decide how precise FrameTimer's waits are, as a table: the plug-in uses
// the system's, tests put refusing or counting ones in front of them.

#include "capture/win32_frame_timer.h"

#include <windows.h>
#include <mmsystem.h>

// Windows 10 1803 and later; missing from mingw-w64's headers.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace Vardel::win32 {

struct TimerCalls {
    decltype(&::CreateWaitableTimerExW) createTimer;
    decltype(&::timeBeginPeriod) beginPeriod;
    decltype(&::timeEndPeriod) endPeriod;
};

const TimerCalls& systemTimerCalls();

} // namespace Vardel::win32
