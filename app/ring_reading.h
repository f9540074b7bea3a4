#pragma once

// The loop of every reader of the ring: wait for a frame, read it, check it, count it
// (read, skipped, torn, bad), and once a second hand over what that second saw.

#include "app/frame_checker.h"
#include "app/frame_stats.h"
#include "host/ring/frame_slot.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

namespace Vardel {

class VideoRingBufferReader;

class RingReading {
public:
    struct Handlers {
        // Every frame read, after its check; it may take the pixels (swap them away).
        std::function<void(const FrameSlot&, std::vector<std::uint8_t>&)> frame;
        // A frame the reader refused or that failed its check, in one line.
        std::function<void(const QString&)> problem;
        std::function<void(const RingStats&)> second;
    };
    struct Totals {
        std::uint64_t frames = 0, skipped = 0, torn = 0, bad = 0;
    };
    enum class End { Stopped, WriterGone };

    RingReading(VideoRingBufferReader& reader, FrameChecker checker, Handlers handlers);

    // Reads from the reader, attached, while keepGoing() holds, waiting at most wait for
    // each frame.
    End readWhile(const std::function<bool()>& keepGoing, std::chrono::milliseconds wait);
    // Hands over the last second's figures once a second has passed since the last time.
    void tick();
    // Since the reading began.
    Totals totals() const;

private:
    void readOne();

    VideoRingBufferReader& reader_;
    FrameChecker checker_;
    Handlers handlers_;
    StatsAccumulator second_;
    Totals totals_;
    std::uint64_t tornSeen_ = 0;
    std::chrono::steady_clock::time_point secondStart_ = std::chrono::steady_clock::now();
    FrameSlot header_;
    std::vector<std::uint8_t> pixels_;
};

} // namespace Vardel
