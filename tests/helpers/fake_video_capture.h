#pragma once

// A capture device for tests: opens chosen indices, records every call, and delivers
// frames of a chosen size at a chosen rate. Gates hold an open or a grab until the test
// lets it pass, as a slow or stalled device does; from a given frame on, frames can come
// in the wrong size, or the back end can throw as OpenCV's do.

#include "helpers/plugin_fixture.h"
#include "plugin/korvane_plugin.h"

#include <opencv2/videoio.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace Vardel::testing {

// Holds the threads that pass it while it is closed: a device slow to open, a grab that
// blocks. As a safety net a closed gate gives way after its limit; a test that finds it
// forced has found a thread that waited on a held one.
class Gate {
public:
    void close(std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        until_ = std::chrono::steady_clock::now() + limit;
    }
    void open()
    {
        std::lock_guard lock(mutex_);
        closed_ = false;
        changed_.notify_all();
    }
    void pass()
    {
        std::unique_lock lock(mutex_);
        ++held_;
        if (!changed_.wait_until(lock, until_, [this] { return !closed_; })) {
            forced_ = true;
            closed_ = false;
        }
        --held_;
    }
    int held() const { std::lock_guard lock(mutex_); return held_; }
    bool forced() const { std::lock_guard lock(mutex_); return forced_; }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool closed_ = false;
    bool forced_ = false;
    int held_ = 0;
    std::chrono::steady_clock::time_point until_;
};

struct FakeDevice {
    // Script (set before use; the atomics may change while a session runs).
    std::set<int> openable{0};
    int width = 64; // what the device delivers, whatever is asked for
    int height = 48;
    std::vector<CaptureMode> modes; // what the platform reports it offers
    std::atomic<int> framesPerSecond{0}; // 0: as fast as asked
    std::atomic<long> wrongSizeFrom{-1}; // frames from this one on come 8 pixels narrower
    std::atomic<long> throwFrom{-1};     // retrieve throws for this frame and every later one
    Gate openGate;
    Gate grabGate;

    // Record.
    std::mutex mutex;
    std::vector<std::pair<int, int>> opens; // index, back end
    std::vector<std::pair<int, double>> sets;
    std::vector<std::thread::id> openedOn;   // the thread of each successful open
    std::vector<std::thread::id> releasedOn; // the thread of each release of an open device
    std::atomic<bool> grabbedElsewhere{false}; // a grab on another thread than the open's
    std::atomic<long> grabs{0};
    std::atomic<bool> opened{false};

    // The byte at offset of delivered frame k.
    static std::uint8_t byteOf(long frame, std::size_t offset)
    {
        return static_cast<std::uint8_t>((frame * 29 + long(offset) * 3 + long(offset / 97)) & 0xff);
    }
    template <typename T>
    std::vector<T> copy(const std::vector<T>& record)
    {
        std::lock_guard lock(mutex);
        return record;
    }
};

class FakeVideoCapture : public cv::VideoCapture {
public:
    explicit FakeVideoCapture(std::shared_ptr<FakeDevice> device) : device_(std::move(device)) {}
    ~FakeVideoCapture() override { release(); }

    using cv::VideoCapture::open;
    bool open(int index, int apiPreference) override;
    bool isOpened() const override { return device_->opened; }
    void release() override;
    bool grab() override;
    bool retrieve(cv::OutputArray image, int flag) override;
    bool set(int propId, double value) override;
    double get(int propId) const override;

private:
    std::shared_ptr<FakeDevice> device_;
    long current_ = -1;
    std::chrono::steady_clock::time_point nextFrame_{};
};

// The plug-in with the fake device behind its capture object.
class FakeDevicePlugin : public KorvanePlugin {
public:
    std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();
    QStringList extraDevices; // entries listed after the test source

protected:
    std::unique_ptr<cv::VideoCapture> makeVideoCapture() override { return std::make_unique<FakeVideoCapture>(device); }
    QStringList deviceEntries() override { return extraDevices; }
    std::vector<CaptureMode> deviceModes(int) override { return device->modes; }
};

inline const QString kFakeCam = QStringLiteral("0: Fake Cam");

// The plug-in on the fake device, listed after the test source as kFakeCam, which
// delivers width x height frames at fps.
struct FakeDeviceSession : PluginFixture<FakeDevicePlugin> {
    FakeDeviceSession(const char* what, int width, int height, int fps) : PluginFixture(what)
    {
        plugin.extraDevices = {kFakeCam};
        plugin.device->width = width;
        plugin.device->height = height;
        plugin.device->framesPerSecond = fps;
    }
};

} // namespace Vardel::testing
