#pragma once

// Drawing the moving colour bars of the built-in test source, frame by frame.

#include "capture/colour_bars.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Vardel {

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
