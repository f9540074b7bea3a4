#include "capture/colour_bars.h"

namespace Vardel {

std::uint32_t barAtOffset(std::uint32_t x, std::uint32_t offset, std::uint32_t width)
{
    const std::uint32_t barWidth = width / 8;
    return ((x + offset) % (barWidth * 8)) / barWidth;
}

std::uint32_t barAt(std::uint32_t x, std::uint32_t n, std::uint32_t width)
{
    const std::uint32_t period = width / 8 * 8;
    return barAtOffset(x, (2u * n) % period, width); // 2 * n wraps in 32 bits, as the frame counter does
}

std::uint32_t barOffsetAfter(std::uint32_t offset, std::uint64_t frames, std::uint32_t width)
{
    const std::uint32_t period = width / 8 * 8;
    return std::uint32_t((offset + 2 * (frames % period)) % period);
}

} // namespace Vardel
