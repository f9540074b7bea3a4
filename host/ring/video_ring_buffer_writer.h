#pragma once

#include "host/ring/frame_slot.h"
#include "host/ring/page_warmer.h"
#include "host/ring/ring_layout.h"
#include "host/ring/shm_object.h"
#include "host/ring/guarded_range.h"
#include "host/vardelcore_export.h"

#include <cstdint>
#include <optional>
#include <string>

namespace Vardel {

// Producer side of the shared-memory video ring. One producer thread calls
// acquireWriteSlot / releaseWriteSlot / cancelWrite / signalAllFrameEvents;
// setCaptureActive may be called from any thread at the same time.
// The writer never waits for readers: a reader that falls behind sees its slot
// overwritten and skips to the newest frame.
class VARDELCORE_EXPORT VideoRingBufferWriter {
public:
    VideoRingBufferWriter() = default;
    ~VideoRingBufferWriter();
    VideoRingBufferWriter(const VideoRingBufferWriter&) = delete;
    VideoRingBufferWriter& operator=(const VideoRingBufferWriter&) = delete;

    // Creates (or takes over a matching) ring of slotCount slots of slotBytes bytes under
    // name. A region left behind with another geometry or unreadable contents is replaced.
    // Only a region of this user that no other user may open is taken over, and only once
    // its writer is gone: one of another user, or open to others, is removed (refused where
    // it cannot be), and one whose writer is another process that still runs is refused.
    // A failure is logged with its reason (lastError).
    // Every page is faulted in here, and its translation built soon after on a thread of
    // its own, so that writing frames never waits for the kernel or a hypervisor.
    bool connect(const std::string& name, unsigned int slotCount, unsigned int slotBytes);
    bool isConnected() const { return control_ != nullptr; }
    const std::string& lastError() const { return error_; }

    // The next slot, marked as being written; nothing when the ring is not connected, or
    // when another process has cut the region short (connect again to recreate it).
    std::optional<WriteSlot> acquireWriteSlot();
    // Publishes the acquired slot with a copy of frame (frameNumber is stamped here).
    void releaseWriteSlot(std::uint64_t slotIndex, const FrameSlot& frame);
    // Gives the acquired slot back without publishing anything.
    void cancelWrite(std::uint64_t slotIndex);
    // Wakes every reader waiting for a frame.
    void signalAllFrameEvents();
    void setCaptureActive(bool active);

    std::uint64_t publishedFrames() const { return published_; }

private:
    enum class Existing { None, TakenOver, Refused };

    bool open(const std::string& name, unsigned int slotCount, unsigned int slotBytes);
    void disconnect();
    // The region under the name, mapped when it may be taken over (error_ says why it may not).
    Existing adoptExisting();
    bool create();
    bool mapGuarded(UniqueFd fd);
    void takeOver(bool freshRegion);
    bool regionLost();
    ring::Control& control() const;
    ring::SlotDescriptor& descriptor(std::uint64_t slot) const;

    std::string objectName_;
    std::string error_;
    ring::Geometry geometry_;
    UniqueFd fd_;
    Mapping mapping_;
    GuardedRange guard_; // after mapping_: unregistered before the range is unmapped
    PageWarmer warmer_;  // reads the mapping: stopped (it is destroyed first) before it is unmapped
    ring::Control* control_ = nullptr; // set once the region is taken over
    bool lost_ = false;
    std::uint64_t epoch_ = 0;
    std::uint64_t published_ = 0;
    std::optional<std::uint64_t> acquired_;
};

} // namespace Vardel
