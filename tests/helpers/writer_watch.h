#pragma once

// Watches a running session's frame counter from a thread of its own: the frames written
// per second over the watch, and the longest time between two frames.

#include "helpers/plugin_probe.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace Vardel::testing {

class WriterWatch {
public:
    explicit WriterWatch(KorvanePlugin& plugin)
        : frames_(KorvanePluginProbe::framesWritten(plugin)), first_(frames_.load()), thread_([this] { run(); })
    {
    }
    ~WriterWatch() { stop(); }

    void stop()
    {
        if (!thread_.joinable())
            return;
        watching_ = false;
        thread_.join();
        seconds_ = std::chrono::duration<double>(Clock::now() - started_).count();
        written_ = frames_.load() - first_;
    }
    // After stop().
    double rate() const { return double(written_) / seconds_; }
    double seconds() const { return seconds_; }
    double longestGapMs() const { return longestGapMs_; }

private:
    using Clock = std::chrono::steady_clock;

    void run()
    {
        int last = frames_.load();
        auto lastAt = Clock::now();
        while (watching_.load()) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            const int now = frames_.load();
            if (now != last) {
                longestGapMs_ = std::max(longestGapMs_, std::chrono::duration<double, std::milli>(Clock::now() - lastAt).count());
                last = now;
                lastAt = Clock::now();
            }
        }
    }

    std::atomic<int>& frames_;
    const int first_;
    const Clock::time_point started_ = Clock::now();
    std::atomic<bool> watching_{true};
    double longestGapMs_ = 0.0; // the watching thread's until stop() has joined it
    double seconds_ = 0.0;
    int written_ = 0;
    std::thread thread_;
};

} // namespace Vardel::testing
