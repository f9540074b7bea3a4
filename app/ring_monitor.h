#pragma once

// The host's own reader of the video ring, on a thread of its own: it keeps the newest
// frame for display and snapshots and reports what it read once a second.

#include "app/frame_stats.h"
#include "host/ring/frame_slot.h"

#include <QObject>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Vardel {

class RingMonitor : public QObject {
    Q_OBJECT
public:
    explicit RingMonitor(std::string ringName, QObject* parent = nullptr);
    ~RingMonitor() override;

    void start();
    void stop();

    // A copy of the newest frame read; false before the first.
    bool latestFrame(FrameSlot& header, std::vector<std::uint8_t>& pixels) const;
    std::uint64_t totalFramesRead() const { return total_.load(std::memory_order_relaxed); }

signals:
    void secondElapsed(const Vardel::RingStats& stats);
    void frameArrived(); // at most one pending at a time

private:
    void run();
    // The newest frame read, for display and snapshots (on the reading thread).
    void keep(const FrameSlot& header, std::vector<std::uint8_t>& pixels);

    std::string ringName_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> arrivalPending_{false};
    std::atomic<std::uint64_t> total_{0};
    mutable std::mutex frameMutex_; // host side: the display thread and the reader share the newest frame
    FrameSlot latestHeader_;
    std::vector<std::uint8_t> latestPixels_;
    bool haveFrame_ = false;
};

} // namespace Vardel
