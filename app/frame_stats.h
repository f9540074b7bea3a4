#pragma once

// What a reader of the ring saw over a stretch of time.

#include <QMetaType>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace Vardel {

struct RingStats {
    bool attached = false;
    bool captureActive = false;
    std::uint64_t framesRead = 0; // frames read in the interval
    std::uint64_t skipped = 0;    // frames published but never read (the reader was behind)
    std::uint64_t torn = 0;       // reads refused because the frame was overwritten meanwhile
    std::uint64_t bad = 0;        // frames that failed a content check
    double latencyP50Ms = 0.0;    // publication (frame timestamp) to read
    double latencyP99Ms = 0.0;
    double latencyMaxMs = 0.0;
    double seconds = 0.0;         // length of the interval
};

// Collects latencies and counts; summarise() gives the figures and starts afresh.
class StatsAccumulator {
public:
    void frame(double latencyMs)
    {
        ++frames_;
        latencies_.push_back(latencyMs);
    }
    void skipped(std::uint64_t count) { skipped_ += count; }
    void torn(std::uint64_t count) { torn_ += count; }
    void bad() { ++bad_; }

    RingStats summarise(double seconds)
    {
        RingStats stats;
        stats.framesRead = frames_;
        stats.skipped = skipped_;
        stats.torn = torn_;
        stats.bad = bad_;
        stats.seconds = seconds;
        if (!latencies_.empty()) {
            std::sort(latencies_.begin(), latencies_.end());
            auto at = [&](double p) { return latencies_[std::min(latencies_.size() - 1, std::size_t(p * double(latencies_.size())))]; };
            stats.latencyP50Ms = at(0.50);
            stats.latencyP99Ms = at(0.99);
            stats.latencyMaxMs = latencies_.back();
        }
        *this = StatsAccumulator();
        return stats;
    }

private:
    std::uint64_t frames_ = 0, skipped_ = 0, torn_ = 0, bad_ = 0;
    std::vector<double> latencies_;
};

} // namespace Vardel

Q_DECLARE_METATYPE(Vardel::RingStats)
