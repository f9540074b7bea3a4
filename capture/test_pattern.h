#pragma once

// The moving colour bars of the built-in test source.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

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

// The bar shown at column x of frame n of a pattern width pixels wide: the picture moves
// two columns to the left per frame and wraps after width rounded down to a multiple of 8.
std::uint32_t barAt(std::uint32_t x, std::uint32_t n, std::uint32_t width);

// Draws frames of the pattern. Everything a run needs is prepared at construction, so
// drawing a frame allocates nothing: each frame's first row is a window into a
// precomputed strip of bars, and the frame is that row repeated, written with wide
// (non-temporal where the frame outgrows the caches) stores and fenced, so the frame is
// complete before it is published.
class TestPatternPainter {
public:
    // width >= 8 and height >= 1.
    TestPatternPainter(std::uint32_t width, std::uint32_t height);

    std::size_t frameBytes() const { return std::size_t(rowBytes_) * height_; }
    void draw(std::uint8_t* frame, std::uint32_t n);

private:
    std::uint32_t width_;
    std::uint32_t height_;
    std::uint32_t rowBytes_;
    std::uint32_t period_;
    std::vector<std::uint8_t> strip_; // period + width columns of bars
    std::vector<std::uint8_t> rows_;  // the current row, repeated past one row plus one wide store
};

// Fills total bytes at destination with row (rowBytes long) repeated, row after row.
// source must hold the row repeated for at least rowBytes + 64 bytes.
void fillRepeatedRows(std::uint8_t* destination, const std::uint8_t* source, std::size_t rowBytes,
                      std::size_t total, bool nonTemporal);

} // namespace Vardel

namespace Vardel {

// Recognises a frame of the pattern: the column offset (2n mod period) of the frame
// that every pixel agrees with, or nothing when some pixel disagrees.
std::optional<std::uint32_t> findBarOffset(const std::uint8_t* frame, std::uint32_t width, std::uint32_t height);

} // namespace Vardel
