#pragma once

#include "host/ring/frame_slot.h"
#include "host/ring/page_warmer.h"
#include "host/ring/ring_layout.h"
#include "host/ring/shm_object.h"
#include "host/ring/guarded_range.h"
#include "host/vardelcore_export.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Vardel {

// Consumer side of the video ring, usable from any process. It validates the region
// before it trusts it, and never hands out a frame that was overwritten while it was
// being copied.
class VARDELCORE_EXPORT VideoRingBufferReader {
public:
    enum class ReadResult {
        Frame,   // header and pixels hold one complete frame
        NoFrame, // nothing published yet
        Torn,    // the writer kept overwriting the frame while it was copied, or left it half written
        Invalid, // the frame header is not sound (lastError says why), or the region is not: detach
    };
    enum class WaitResult {
        Frame,      // a frame other than the last one read is available
        Timeout,    // none within the timeout, the writer is alive
        WriterGone, // the region was removed or its writer died
    };

    VideoRingBufferReader() = default;
    VideoRingBufferReader(const VideoRingBufferReader&) = delete;
    VideoRingBufferReader& operator=(const VideoRingBufferReader&) = delete;

    // Attaches to a region of this process's user, or of the user named by expectOwner.
    bool attach(const std::string& name);
    void expectOwner(unsigned uid) { expectedOwner_ = uid; }
    // Attaches, trying again every few milliseconds until deadline while the ring is not
    // there (or not sound) yet; lastError() then says why the last try failed.
    bool attachBy(const std::string& name, std::chrono::steady_clock::time_point deadline);
    void detach();
    bool isAttached() const { return control_ != nullptr; }
    const std::string& lastError() const { return error_; }

    std::uint32_t slotCount() const { return geometry_.slotCount; }
    std::uint64_t slotBytes() const { return geometry_.slotBytes; }
    bool captureActive() const;
    // A writer process holds the region, the region is still the one under its name, and
    // nobody has cut it short or written over its header.
    bool writerAlive() const;
    std::uint64_t latestFrameNumber() const;
    // The newest frame readLatest looked at, whether it handed it out, refused or found it torn.
    std::uint64_t lastReadFrameNumber() const { return lastRead_; }

    // Waits until a frame other than the last one read is published. A writer that dies
    // meanwhile is noticed within a tenth of a second, whatever the timeout.
    WaitResult waitForFrame(std::chrono::nanoseconds timeout);

    // Copies the newest frame. pixels is resized to the frame's data size (its capacity
    // is reused, so steady reading does not allocate).
    ReadResult readLatest(FrameSlot& header, std::vector<std::uint8_t>& pixels);

    // Frames that were overwritten while being copied, since attach.
    std::uint64_t tornReads() const { return torn_; }

private:
    const ring::SlotDescriptor& descriptor(std::uint64_t slot) const;
    void syncEpoch();
    // Why the region can no longer be trusted (cut short, faulted, header overwritten), or null.
    const char* damage() const;

    std::string error_;
    std::optional<unsigned> expectedOwner_;
    ring::Geometry geometry_;
    UniqueFd fd_;
    Mapping controlMapping_; // control block and descriptors, writable for the waiter count
    Mapping dataMapping_;    // slot data, read-only
    // After the mappings: unregistered before they are unmapped.
    GuardedRange controlGuard_;
    GuardedRange dataGuard_;
    PageWarmer warmer_; // reads dataMapping_: stopped (it is destroyed first) before it is unmapped
    ring::Control* control_ = nullptr;
    std::uint64_t epoch_ = 0;
    std::uint64_t lastRead_ = 0;
    std::uint64_t torn_ = 0;
};

} // namespace Vardel
