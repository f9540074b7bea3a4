#pragma once

// What the host's core library offers a plug-in of the video ring's writer.

#include "host/ring/frame_slot.h"

#include <cstdint>
#include <optional>
#include <string>

namespace Vardel {

class VideoRingBufferWriter {
public:
    VideoRingBufferWriter();
    ~VideoRingBufferWriter();
    VideoRingBufferWriter(const VideoRingBufferWriter&) = delete;
    VideoRingBufferWriter& operator=(const VideoRingBufferWriter&) = delete;

    bool connect(const std::string& name, unsigned int slotCount, unsigned int slotBytes);
    std::optional<WriteSlot> acquireWriteSlot();
    void releaseWriteSlot(std::uint64_t slotIndex, const FrameSlot& frame);
    void cancelWrite(std::uint64_t slotIndex);
    void signalAllFrameEvents();
    void setCaptureActive(bool active);
};

} // namespace Vardel
