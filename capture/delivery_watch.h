#pragma once

#include <cstdint>
#include <optional>

namespace Vardel {

// Tells the frame thread when a device has stopped delivering (no frame for a second
// while its grabs fail) and when it delivers again, each once; how long to wait before
// trying a device that keeps failing: a device that fails at once (unplugged) must not
// turn the frame thread into a spin; and when to cut short a grab that is still waiting.
// Plain arithmetic, no allocation: it runs per grab.
class DeliveryWatch {
public:
    static constexpr std::int64_t kStalledAfterNs = 1'000'000'000;
    // Long enough to keep a failing device's thread near idle, short enough that frames
    // resume within a fraction of a frame interval at 60 frames/s.
    static constexpr std::int64_t kRetryPauseNs = 5'000'000;
    // While a device stays silent its waiting grab is cut short this often, so that a stop
    // is seen as soon.
    static constexpr std::int64_t kRecheckNs = 250'000'000;

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

    // The new time at which a grab still waiting is to be cut short, or nothing when it
    // stays as it was. A second after the last frame (the stall is noticed then), moved on
    // only once it has come within three quarters of a second, so that flowing frames cost
    // a new deadline every quarter second, not one per frame; while the device stays
    // silent, a quarter second after each deadline that has passed.
    std::optional<std::int64_t> grabDeadline(std::int64_t nowNs)
    {
        if (failedInARow_ == 0) {
            if (deadline_ - nowNs >= kStalledAfterNs - kRecheckNs)
                return std::nullopt;
            deadline_ = lastFrameNs_ + kStalledAfterNs;
        } else {
            if (deadline_ > nowNs)
                return std::nullopt;
            deadline_ = nowNs + kRecheckNs;
        }
        return deadline_;
    }

private:
    std::int64_t lastFrameNs_;
    std::int64_t deadline_ = 0;
    std::uint32_t failedInARow_ = 0;
    bool stopped_ = false;
};

} // namespace Vardel
