#pragma once

// A process at its thread limit, for one suite: while failing is set, creating a thread
// fails as pthread_create does there (EAGAIN), and std::thread throws std::system_error.
// The suite's own pthread_create stands in front of the C library's; the sanitizers bring
// their own, so there the suite has none and the cases that need it skip.

#include <atomic>

namespace Vardel::testing {

inline std::atomic<bool> threadCreationFails{false};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kCanFailThreadCreation = false;
} // namespace Vardel::testing
#else
inline constexpr bool kCanFailThreadCreation = true;
} // namespace Vardel::testing

#include <cerrno>
#include <dlfcn.h>
#include <pthread.h>

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*body)(void*), void* argument)
{
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto create = reinterpret_cast<Create>(::dlsym(RTLD_NEXT, "pthread_create"));
    return Vardel::testing::threadCreationFails.load() ? EAGAIN : create(thread, attributes, body, argument);
}
#endif
