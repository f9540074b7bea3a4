#pragma once

// A capture device for tests: opens chosen indices (optionally slowly), records every
// call, and delivers frames of a chosen size at a chosen rate; grabs can fail from a
// given frame on, frames can come in the wrong size, and the back end can throw as
// OpenCV's back ends do.

#include "plugin/korvane_plugin.h"

#include <opencv2/videoio.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

namespace Vardel::testing {

struct FakeDevice {
    // Script (set before use; the atomics may change while a session runs).
    std::set<int> openable{0};
    std::chrono::milliseconds openDelay{0};
    int width = 64;
    int height = 48;
    std::atomic<int> framesPerSecond{0};   // 0: as fast as asked
    std::atomic<long> failGrabsFrom{-1};   // grab fails for this frame and every later one
    std::atomic<long> wrongSizeFrom{-1};   // frames from this one on come 8 pixels narrower
    std::atomic<long> throwFrom{-1};       // retrieve throws a cv::Exception for this frame and every later one
    std::atomic<bool> openThrows{false};   // open throws a cv::Exception (after its delay)

    // Record.
    std::mutex mutex;
    std::vector<std::pair<int, int>> opens; // index, back end
    std::vector<std::pair<int, double>> sets;
    std::atomic<int> releases{0};
    std::atomic<long> grabs{0};
    std::atomic<bool> opened{false};

    // The byte at offset of delivered frame k.
    static std::uint8_t byteOf(long frame, std::size_t offset)
    {
        return static_cast<std::uint8_t>((frame * 29 + long(offset) * 3 + long(offset / 97)) & 0xff);
    }
    std::vector<std::pair<int, int>> openCalls();
    std::vector<std::pair<int, double>> setCalls();
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
    bool read(cv::OutputArray image) override { return grab() && retrieve(image, 0); }
    bool set(int propId, double value) override;
    double get(int) const override { return 0.0; }

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
};

} // namespace Vardel::testing
