#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace Vardel::futex {

// Process-shared futex on a word in shared memory.
// Sleeps while *word == expected, at most for timeout; spurious returns are allowed.
void wait(std::atomic<std::uint32_t>& word, std::uint32_t expected, std::chrono::nanoseconds timeout);
void wakeAll(std::atomic<std::uint32_t>& word);

} // namespace Vardel::futex
