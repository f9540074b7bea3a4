#pragma once

#include <cstdint>

namespace Vardel {

// Tells the frame thread when a device has stopped delivering (no frame for a second
// while its grabs fail) and when it delivers again, each once, and how long to wait
// before trying a device that keeps failing: a device that fails at once (unplugged) must
// not turn the frame thread into a spin. Plain arithmetic, no allocation: it runs per grab.
class DeliveryWatch {
public:
    static constexpr std::int64_t kStalledAfterNs = 1'000'000'000;
    // Long enough to keep a failing device's thread near idle, short enough that frames
    // resume within a fraction of a frame interval at 60 frames/s.
    static constexpr std::int64_t kRetryPauseNs = 5'000'000;

    enum class Change { None, Stopped, Resumed };

    explicit DeliveryWatch(std::int64_t startNs) : lastFrameNs_(startNs) {}

    Change frameRead(std::int64_t nowNs)
    {
        lastFrameNs_ = nowNs;
        failedInARow_ = 0;
        if (!stopped_)
            return Change::None;
        stopped_ = false;
        return Change::Resumed;
    }

    Change grabFailed(std::int64_t nowNs)
    {
        ++failedInARow_;
        if (stopped_ || nowNs - lastFrameNs_ < kStalledAfterNs)
            return Change::None;
        stopped_ = true;
        return Change::Stopped;
    }

    // A single failed grab is retried at once (a frame lost on the way); from the second
    // in a row on, the thread pauses before the next try.
    bool pauseBeforeRetry() const { return failedInARow_ > 1; }

private:
    std::int64_t lastFrameNs_;
    std::uint32_t failedInARow_ = 0;
    bool stopped_ = false;
};

} // namespace Vardel
