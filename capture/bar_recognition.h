#pragma once

// Recognising a frame of the colour bars, for readers of the ring.

#include <cstdint>
#include <optional>

namespace Vardel {

// The column offset (2n mod period) of the frame of the pattern that every pixel agrees
// with, or nothing when some pixel disagrees.
std::optional<std::uint32_t> findBarOffset(const std::uint8_t* frame, std::uint32_t width, std::uint32_t height);

} // namespace Vardel
