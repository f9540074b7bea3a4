#pragma once

#include <cstdint>

namespace Vardel {

// A rate is measured over at least half a second.
inline constexpr std::int64_t kMinRateIntervalNs = 500'000'000;

// Frames per second for frames published over elapsedNs (>= kMinRateIntervalNs), with the
// interval truncated to whole milliseconds.
inline double writeRate(std::uint64_t frames, std::int64_t elapsedNs)
{
    const std::int64_t elapsedMs = elapsedNs / 1'000'000;
    return double(frames) * 1000.0 / double(elapsedMs);
}

} // namespace Vardel
