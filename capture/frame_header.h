#pragma once

#include "host/ring/frame_slot.h"

#include <cstdint>

namespace Vardel {

// The header of every frame of a capture run; only timestampNs changes per frame.
inline FrameSlot bgrFrameHeader(std::uint32_t width, std::uint32_t height)
{
    FrameSlot header; // host-owned fields stay zero
    header.width = width;
    header.height = height;
    header.channels = 3;
    header.stride = width * 3u;
    header.dataSize = width * height * 3u;
    header.pixelFormat = PixelFormatBgr24;
    return header;
}

} // namespace Vardel
