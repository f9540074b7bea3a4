#include "capture/bar_recognition.h"

#include "capture/colour_bars.h"

#include <cstddef>
#include <cstring>

namespace Vardel {

std::optional<std::uint32_t> findBarOffset(const std::uint8_t* frame, std::uint32_t width, std::uint32_t height)
{
    if (width < 8 || height == 0)
        return std::nullopt;
    const std::uint32_t barWidth = width / 8;
    const std::uint32_t period = barWidth * 8;
    auto barOf = [&](std::uint32_t x) -> int {
        for (std::size_t i = 0; i < kColourBars.size(); ++i) {
            if (std::memcmp(frame + std::size_t(x) * 3, kColourBars[i].data(), 3) == 0)
                return int(i);
        }
        return -1;
    };
    // Column 0 shows bar i0; the first change of colour is where bar i0 + 1 begins.
    const int first = barOf(0);
    if (first < 0)
        return std::nullopt;
    std::uint32_t change = 1;
    while (change <= barWidth && change < width && barOf(change) == first)
        ++change;
    const std::uint32_t nextBarStart = std::uint32_t((first + 1) % 8) * barWidth;
    const std::uint32_t offset =
        change > barWidth ? std::uint32_t(first) * barWidth : (nextBarStart + period - change % period) % period;
    // Every pixel of every row has to agree with that offset.
    for (std::uint32_t x = 0; x < width; ++x) {
        const auto& colour = kColourBars[barAtOffset(x, offset, width)];
        if (std::memcmp(frame + std::size_t(x) * 3, colour.data(), 3) != 0)
            return std::nullopt;
    }
    const std::size_t rowBytes = std::size_t(width) * 3;
    for (std::uint32_t y = 1; y < height; ++y) {
        if (std::memcmp(frame + y * rowBytes, frame, rowBytes) != 0)
            return std::nullopt;
    }
    return offset;
}

} // namespace Vardel
