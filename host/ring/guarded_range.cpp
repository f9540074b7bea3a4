#include "host/ring/guarded_range.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace Vardel {

namespace {

// A fixed table, so that the signal handler reads it without locks or allocation.
struct Entry {
    std::atomic<bool> taken{false};       // held by a GuardedRange
    std::atomic<std::uintptr_t> start{0}; // 0 while the entry guards nothing
    std::atomic<std::size_t> bytes{0};
    std::atomic<int> protection{0};
    std::atomic<bool> lost{false};
};
constexpr int kEntries = 64;
std::array<Entry, kEntries> entries;

std::mutex installMutex;
struct sigaction previousAction {}; // written under installMutex, before our handler goes in

bool answerFault(std::uintptr_t address)
{
    for (Entry& entry : entries) {
        const std::uintptr_t start = entry.start.load(std::memory_order_acquire);
        const std::size_t bytes = entry.bytes.load(std::memory_order_relaxed);
        if (start == 0 || address < start || address - start >= bytes)
            continue;
        // The raw system call: no sanitizer or library wrapper runs inside the handler.
        const long mapped = ::syscall(SYS_mmap, start, bytes, entry.protection.load(std::memory_order_relaxed),
                                      MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0L);
        if (mapped == -1)
            return false;
        entry.lost.store(true, std::memory_order_release);
        return true;
    }
    return false;
}

void onSigbus(int signal, siginfo_t* info, void* context)
{
    const int savedErrno = errno;
    const bool answered = info && info->si_code > 0 && answerFault(reinterpret_cast<std::uintptr_t>(info->si_addr));
    errno = savedErrno;
    if (answered)
        return; // the faulting access runs again, on the zero pages
    if ((previousAction.sa_flags & SA_SIGINFO) && previousAction.sa_sigaction) {
        previousAction.sa_sigaction(signal, info, context);
        return;
    }
    if (!(previousAction.sa_flags & SA_SIGINFO) && previousAction.sa_handler != SIG_DFL
        && previousAction.sa_handler != SIG_IGN) {
        previousAction.sa_handler(signal);
        return;
    }
    // Nobody else handles it: the default action, as without this guard.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    if (!info || info->si_code <= 0)
        ::raise(signal); // sent, not a fault: it would not come again by itself
}

// (Re)installs the handler, keeping whatever was there as the one to pass other faults to.
// Run at every registration, so that a handler installed over this one since is chained.
void installHandler()
{
    std::lock_guard lock(installMutex);
    struct sigaction current {};
    ::sigaction(SIGBUS, nullptr, &current);
    if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == &onSigbus)
        return;
    previousAction = current;
    struct sigaction ours {};
    ours.sa_sigaction = &onSigbus;
    ours.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
    sigemptyset(&ours.sa_mask);
    ::sigaction(SIGBUS, &ours, nullptr);
}

} // namespace

GuardedRange::GuardedRange(void* address, std::size_t bytes, int protection)
{
    if (!address || bytes == 0)
        return;
    installHandler();
    for (int i = 0; i < kEntries; ++i) {
        bool expected = false;
        if (!entries[i].taken.compare_exchange_strong(expected, true, std::memory_order_acq_rel))
            continue;
        entries[i].bytes.store(bytes, std::memory_order_relaxed);
        entries[i].protection.store(protection, std::memory_order_relaxed);
        entries[i].lost.store(false, std::memory_order_relaxed);
        // Release: the handler that sees the start sees the rest.
        entries[i].start.store(reinterpret_cast<std::uintptr_t>(address), std::memory_order_release);
        entry_ = i;
        return;
    }
}

GuardedRange::GuardedRange(GuardedRange&& other) noexcept : entry_(std::exchange(other.entry_, -1)) {}

GuardedRange& GuardedRange::operator=(GuardedRange&& other) noexcept
{
    if (this != &other) {
        reset();
        entry_ = std::exchange(other.entry_, -1);
    }
    return *this;
}

GuardedRange::~GuardedRange() { reset(); }

bool GuardedRange::lost() const { return entry_ >= 0 && entries[entry_].lost.load(std::memory_order_acquire); }

void GuardedRange::reset()
{
    if (entry_ < 0)
        return;
    entries[entry_].start.store(0, std::memory_order_release);
    entries[entry_].taken.store(false, std::memory_order_release);
    entry_ = -1;
}

} // namespace Vardel
