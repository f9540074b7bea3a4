#pragma once

// The moving colour bars of the built-in test source: the colours, and where each bar
// stands in a given frame. The plug-in draws by this rule; readers check frames by it.

#include <array>
#include <cstdint>

namespace Vardel {

// Eight bars, each three bytes in pixel order (blue, green, red): white, yellow, cyan,
// green, magenta, red, blue, black.
inline constexpr std::array<std::array<std::uint8_t, 3>, 8> kColourBars = {{
    {255, 255, 255},
    {0, 255, 255},
    {255, 255, 0},
    {0, 255, 0},
    {255, 0, 255},
    {0, 0, 255},
    {255, 0, 0},
    {0, 0, 0},
}};

// The bar at column x of a pattern width pixels wide whose bars have moved offset
// columns to the left; the bars repeat after width rounded down to a multiple of 8.
std::uint32_t barAtOffset(std::uint32_t x, std::uint32_t offset, std::uint32_t width);

// The bar shown at column x of frame n: the picture moves two columns to the left per
// frame and wraps after the period.
std::uint32_t barAt(std::uint32_t x, std::uint32_t n, std::uint32_t width);

// Where the bars stand frames frames after a frame that showed them at offset.
std::uint32_t barOffsetAfter(std::uint32_t offset, std::uint64_t frames, std::uint32_t width);

} // namespace Vardel
