#include "helpers/fake_video_capture.h"

#include <thread>

namespace Vardel::testing {

std::vector<std::pair<int, int>> FakeDevice::openCalls()
{
    std::lock_guard lock(mutex);
    return opens;
}

std::vector<std::pair<int, double>> FakeDevice::setCalls()
{
    std::lock_guard lock(mutex);
    return sets;
}

bool FakeVideoCapture::open(int index, int apiPreference)
{
    {
        std::lock_guard lock(device_->mutex);
        device_->opens.emplace_back(index, apiPreference);
    }
    std::this_thread::sleep_for(device_->openDelay);
    if (device_->openThrows)
        CV_Error(cv::Error::StsError, "fake back end failed while opening");
    device_->opened = device_->openable.count(index) > 0;
    nextFrame_ = std::chrono::steady_clock::now();
    return device_->opened;
}

void FakeVideoCapture::release()
{
    if (device_->opened.exchange(false))
        ++device_->releases;
}

bool FakeVideoCapture::grab()
{
    if (!device_->opened)
        return false;
    const long frame = device_->grabs++;
    if (const int fps = device_->framesPerSecond; fps > 0) {
        // A device delivers at its own pace: grab waits for the next frame.
        std::this_thread::sleep_until(nextFrame_);
        nextFrame_ += std::chrono::nanoseconds(1'000'000'000 / fps);
    }
    const long failFrom = device_->failGrabsFrom;
    if (failFrom >= 0 && frame >= failFrom)
        return false;
    current_ = frame;
    return true;
}

bool FakeVideoCapture::retrieve(cv::OutputArray image, int)
{
    if (current_ < 0)
        return false;
    const long throwFrom = device_->throwFrom;
    if (throwFrom >= 0 && current_ >= throwFrom) {
        current_ = -1;
        CV_Error(cv::Error::StsError, "fake back end failed while converting a frame");
    }
    const long wrongFrom = device_->wrongSizeFrom;
    const int width = wrongFrom >= 0 && current_ >= wrongFrom ? device_->width - 8 : device_->width;
    image.create(device_->height, width, CV_8UC3);
    cv::Mat frame = image.getMat();
    for (int row = 0; row < frame.rows; ++row) {
        std::uint8_t* bytes = frame.ptr<std::uint8_t>(row);
        const std::size_t base = std::size_t(row) * std::size_t(frame.cols) * 3;
        for (int i = 0; i < frame.cols * 3; ++i)
            bytes[i] = FakeDevice::byteOf(current_, base + std::size_t(i));
    }
    current_ = -1;
    return true;
}

bool FakeVideoCapture::set(int propId, double value)
{
    std::lock_guard lock(device_->mutex);
    device_->sets.emplace_back(propId, value);
    return true;
}

} // namespace Vardel::testing
