#include "capture/win32_frame_timer.h"

#include "capture/pacing.h"
#include "capture/steady_clock.h"
#include "capture/win32_timer_calls.h"

namespace Vardel::win32 {

const TimerCalls& systemTimerCalls()
{
    static const TimerCalls system{&::CreateWaitableTimerExW, &::timeBeginPeriod, &::timeEndPeriod};
    return system;
}

FrameTimer::FrameTimer() : FrameTimer(systemTimerCalls()) {}

FrameTimer::FrameTimer(const TimerCalls& calls) : calls_(calls)
{
    timer_ = calls_.createTimer(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                               TIMER_MODIFY_STATE | SYNCHRONIZE);
    if (!timer_)
        periodRaised_ = calls_.beginPeriod(1) == TIMERR_NOERROR;
}

FrameTimer::~FrameTimer()
{
    if (timer_)
        ::CloseHandle(timer_);
    // The resolution is system-wide (per process since Windows 10 2004): give it back.
    if (periodRaised_)
        calls_.endPeriod(1);
}

void FrameTimer::waitUntil(std::int64_t deadlineNs)
{
    if (!timer_) {
        sleepUntilNs(deadlineNs);
        return;
    }
    // The timer counts on a clock of its own: check the steady clock after every wake-up.
    for (std::int64_t remaining; (remaining = deadlineNs - steadyNowNs()) > 0;) {
        LARGE_INTEGER due;
        due.QuadPart = -((remaining + 99) / 100); // relative, in 100 ns units, rounded up
        if (!::SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)
            || ::WaitForSingleObject(timer_, INFINITE) != WAIT_OBJECT_0) {
            sleepUntilNs(deadlineNs);
            return;
        }
    }
}

} // namespace Vardel::win32
