#include "host/ring/futex.h"

#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Vardel::futex {

namespace {
// The kernel reads the word itself; atomic<uint32_t> has the same size and address.
std::uint32_t* address(std::atomic<std::uint32_t>& word) { return reinterpret_cast<std::uint32_t*>(&word); }
} // namespace

void wait(std::atomic<std::uint32_t>& word, std::uint32_t expected, std::chrono::nanoseconds timeout)
{
    if (timeout.count() <= 0)
        return;
    timespec relative{};
    relative.tv_sec = static_cast<time_t>(timeout.count() / 1'000'000'000);
    relative.tv_nsec = static_cast<long>(timeout.count() % 1'000'000'000);
    // Not FUTEX_PRIVATE: waiters and wakers live in different processes.
    ::syscall(SYS_futex, address(word), FUTEX_WAIT, expected, &relative, nullptr, 0);
}

void wakeAll(std::atomic<std::uint32_t>& word)
{
    ::syscall(SYS_futex, address(word), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

} // namespace Vardel::futex
