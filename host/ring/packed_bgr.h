#pragma once

// What a reader asks of every frame before it looks at the pixels.

#include "host/ring/frame_slot.h"

#include <cstddef>

namespace Vardel {

// The header describes one packed 8-bit BGR frame (three channels, rows without padding)
// of exactly pixelBytes bytes.
inline bool isPackedBgr(const FrameSlot& header, std::size_t pixelBytes)
{
    return header.pixelFormat == PixelFormatBgr24 && header.channels == 3 && header.stride == header.width * 3
        && header.dataSize == header.stride * header.height && pixelBytes == header.dataSize;
}

} // namespace Vardel
