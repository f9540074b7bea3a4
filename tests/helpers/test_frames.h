#pragma once

// Frames whose every byte follows from their header, so that a reader can tell a
// complete frame from a torn or stale one without knowing what the writer sent.

#include "capture/frame_header.h"
#include "host/ring/frame_slot.h"

#include <cstdint>

namespace Vardel::testing {

inline std::uint8_t patternByte(std::int64_t seed, std::uint64_t offset)
{
    return static_cast<std::uint8_t>((std::uint64_t(seed) * 131 + offset * 7 + (offset >> 9)) & 0xff);
}

// The plug-in's header of a packed BGR frame, with the seed as its timestamp.
inline FrameSlot patternHeader(std::uint32_t width, std::uint32_t height, std::int64_t seed)
{
    FrameSlot header = bgrFrameHeader(width, height);
    header.timestampNs = seed;
    return header;
}

inline void fillPattern(std::uint8_t* data, const FrameSlot& header)
{
    for (std::uint64_t i = 0; i < header.dataSize; ++i)
        data[i] = patternByte(header.timestampNs, i);
}

// Offset of the first byte that disagrees with the header, or -1.
inline std::int64_t firstPatternMismatch(const std::uint8_t* data, const FrameSlot& header)
{
    for (std::uint64_t i = 0; i < header.dataSize; ++i) {
        if (data[i] != patternByte(header.timestampNs, i))
            return std::int64_t(i);
    }
    return -1;
}

} // namespace Vardel::testing
