#pragma once

// The ring the plug-in asks the host for. Every frame must fit one slot: the start
// refuses a size that would not, and a device that settles on another size is checked
// against it too.

#include <cstdint>

namespace Vardel {

inline constexpr unsigned kRingSlotCount = 8;
inline constexpr unsigned kRingSlotBytes = 16 * 1024 * 1024;

inline bool frameFitsSlot(std::int64_t width, std::int64_t height)
{
    return width > 0 && height > 0 && width * height * 3 <= std::int64_t(kRingSlotBytes);
}

} // namespace Vardel
