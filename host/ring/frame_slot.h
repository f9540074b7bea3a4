#pragma once

#include <cstddef>
#include <cstdint>

namespace Vardel {

// Pixel format codes of FrameSlot::pixelFormat.
enum PixelFormat : std::uint32_t {
    PixelFormatUnknown = 0,
    PixelFormatBgr24 = 3, // packed 8-bit blue, green, red
};

// Per-frame header, published with every frame. Producers leave the host-owned
// fields (frameNumber, flags, colorSpace and the three floats) at zero; the ring
// writer stamps frameNumber itself when the frame is published.
struct alignas(64) FrameSlot {
    std::uint64_t frameNumber = 0; // host: 1, 2, 3 ... in publication order
    std::uint32_t flags = 0;       // host: reserved flags
    std::int64_t timestampNs = 0;  // steady clock, when the frame was complete
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t channels = 0;
    std::uint32_t stride = 0;   // bytes per row
    std::uint32_t dataSize = 0; // bytes of pixel data from the start of the slot
    std::uint32_t pixelFormat = PixelFormatUnknown;
    std::uint32_t colorSpace = 0; // host: colour-space code
    float gamma = 0.0f;           // host: transfer-curve exponent
    float exposure = 0.0f;        // host: exposure in milliseconds
    float gain = 0.0f;            // host: gain in decibels
};

static_assert(sizeof(FrameSlot) == 64 && alignof(FrameSlot) == 64);
static_assert(offsetof(FrameSlot, frameNumber) == 0);
static_assert(offsetof(FrameSlot, flags) == 8);
static_assert(offsetof(FrameSlot, timestampNs) == 16);
static_assert(offsetof(FrameSlot, width) == 24);
static_assert(offsetof(FrameSlot, pixelFormat) == 44);
static_assert(offsetof(FrameSlot, gain) == 60);

// A slot handed out by VideoRingBufferWriter::acquireWriteSlot.
struct WriteSlot {
    std::uint64_t slotIndex = 0;
    std::uint8_t* data = nullptr;
    std::uint64_t capacity = 0; // bytes available at data
};

static_assert(sizeof(WriteSlot) == 24);

} // namespace Vardel
