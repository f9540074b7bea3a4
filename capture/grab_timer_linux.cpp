// Linux: a grab waiting in OpenCV's V4L2 back end sits in select() on the device, for up to
// its time-out of 10 seconds. That time-out is read once per process from the environment,
// which the host may have set or read already and which must not be changed while other
// threads run, so it is left alone. Instead a per-thread timer sends the waiting thread a
// signal at the deadline: select() returns EINTR and the back end gives up on that grab,
// leaving the device streaming for the next one.
//
// The signal is a real-time one that nobody handles: one whose disposition is the default
// when we look, taken with a handler that does nothing (and no SA_RESTART, so that the wait
// ends). It is checked again for every session, in case the host has taken it since, and
// unblocked on the session thread only.

#include "capture/platform.h"

#include <atomic>
#include <csignal>
#include <ctime>
#include <pthread.h>
#include <unistd.h>

namespace Vardel::platform {

namespace {

// Async-signal-safe by doing nothing: its only effect is that the wait is interrupted.
void onGrabDeadline(int) {}

bool isOurs(int signal)
{
    struct sigaction current {};
    return ::sigaction(signal, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO)
        && current.sa_handler == onGrabDeadline;
}

// A free real-time signal with our handler installed, or 0 when every one is taken.
int grabSignal()
{
    static std::atomic<int> chosen{0}; // relaxed: a signal chosen twice by two sessions is harmless
    if (const int signal = chosen.load(std::memory_order_relaxed); signal != 0 && isOurs(signal))
        return signal;
    struct sigaction ours {};
    ours.sa_handler = onGrabDeadline;
    sigemptyset(&ours.sa_mask);
    for (int signal = SIGRTMAX; signal >= SIGRTMIN; --signal) {
        struct sigaction before {};
        if (::sigaction(signal, nullptr, &before) != 0 || (before.sa_flags & SA_SIGINFO) || before.sa_handler != SIG_DFL)
            continue;
        if (::sigaction(signal, &ours, &before) != 0)
            continue;
        if ((before.sa_flags & SA_SIGINFO) || before.sa_handler != SIG_DFL) {
            ::sigaction(signal, &before, nullptr); // taken by someone else in the meantime: theirs
            continue;
        }
        chosen.store(signal, std::memory_order_relaxed);
        return signal;
    }
    return 0;
}

} // namespace

struct GrabTimer::Timer {
    timer_t id;
};

GrabTimer::GrabTimer()
{
    const int signal = grabSignal();
    if (signal == 0)
        return; // the back end's own time-out stays the only one
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = signal;
    event._sigev_un._tid = ::gettid(); // glibc 2.36 names it only in this form
    timer_t id;
    // The steady clock is CLOCK_MONOTONIC here, so deadlines are given as they are.
    if (::timer_create(CLOCK_MONOTONIC, &event, &id) == 0)
        timer_ = std::make_unique<Timer>(Timer{id});
}

GrabTimer::~GrabTimer()
{
    if (timer_)
        ::timer_delete(timer_->id); // a signal already sent meets the same empty handler
}

void GrabTimer::interruptAt(std::int64_t deadlineNs)
{
    if (!timer_)
        return;
    itimerspec when{};
    when.it_value.tv_sec = time_t(deadlineNs / 1'000'000'000);
    when.it_value.tv_nsec = long(deadlineNs % 1'000'000'000);
    ::timer_settime(timer_->id, TIMER_ABSTIME, &when, nullptr);
}

} // namespace Vardel::platform
