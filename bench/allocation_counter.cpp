#include "allocation_counter.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

// glibc's own entry points, which the replacements forward to.
extern "C" {
void* __libc_malloc(std::size_t bytes);
void* __libc_calloc(std::size_t count, std::size_t bytes);
void* __libc_realloc(void* pointer, std::size_t bytes);
void* __libc_memalign(std::size_t alignment, std::size_t bytes);
void* __libc_valloc(std::size_t bytes);
void* __libc_pvalloc(std::size_t bytes);
}

namespace {

std::atomic<pid_t> watched{0};
std::atomic<long> allocations{0};
std::atomic<long> mutexLocks{0};
// Local-exec TLS in the executable: reading it allocates nothing, even inside malloc.
thread_local pid_t self = 0;

bool onWatchedThread()
{
    const pid_t tid = watched.load(std::memory_order_relaxed);
    if (tid == 0)
        return false;
    if (self == 0)
        self = ::gettid();
    return self == tid;
}

void countAllocation()
{
    if (onWatchedThread())
        allocations.fetch_add(1, std::memory_order_relaxed);
}

using MutexLock = int (*)(pthread_mutex_t*);
// Looked up at the first lock: libraries lock before this program's own initialisers run.
std::atomic<MutexLock> realMutexLock{nullptr};

} // namespace

namespace Vardel::bench {

void watchThread(pid_t tid) { watched.store(tid, std::memory_order_relaxed); }
long watchedAllocations() { return allocations.load(std::memory_order_relaxed); }
long watchedMutexLocks() { return mutexLocks.load(std::memory_order_relaxed); }

} // namespace Vardel::bench

extern "C" {

void* malloc(std::size_t bytes)
{
    countAllocation();
    return __libc_malloc(bytes);
}

void* calloc(std::size_t count, std::size_t bytes)
{
    countAllocation();
    return __libc_calloc(count, bytes);
}

void* realloc(void* pointer, std::size_t bytes)
{
    countAllocation();
    return __libc_realloc(pointer, bytes);
}

void* memalign(std::size_t alignment, std::size_t bytes)
{
    countAllocation();
    return __libc_memalign(alignment, bytes);
}

void* aligned_alloc(std::size_t alignment, std::size_t bytes)
{
    countAllocation();
    return __libc_memalign(alignment, bytes);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t bytes)
{
    countAllocation();
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void* pointer = __libc_memalign(alignment, bytes);
    if (!pointer && bytes != 0)
        return ENOMEM;
    *result = pointer;
    return 0;
}

void* valloc(std::size_t bytes)
{
    countAllocation();
    return __libc_valloc(bytes);
}

void* pvalloc(std::size_t bytes)
{
    countAllocation();
    return __libc_pvalloc(bytes);
}

int pthread_mutex_lock(pthread_mutex_t* mutex)
{
    if (onWatchedThread())
        mutexLocks.fetch_add(1, std::memory_order_relaxed);
    MutexLock lock = realMutexLock.load(std::memory_order_acquire);
    if (!lock) {
        lock = reinterpret_cast<MutexLock>(::dlsym(RTLD_NEXT, "pthread_mutex_lock"));
        realMutexLock.store(lock, std::memory_order_release);
    }
    return lock(mutex);
}

} // extern "C"
