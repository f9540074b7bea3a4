#include "helpers/fake_video_capture.h"

namespace Vardel::testing {

bool FakeVideoCapture::open(int index, int apiPreference)
{
    {
        std::lock_guard lock(device_->mutex);
        device_->opens.emplace_back(index, apiPreference);
    }
    device_->openGate.pass();
    device_->opened = device_->openable.count(index) > 0;
    nextFrame_ = std::chrono::steady_clock::now();
    if (device_->opened) {
        std::lock_guard lock(device_->mutex);
        device_->openedOn.push_back(std::this_thread::get_id());
    }
    return device_->opened;
}

void FakeVideoCapture::release()
{
    if (device_->opened.exchange(false)) {
        std::lock_guard lock(device_->mutex);
        device_->releasedOn.push_back(std::this_thread::get_id());
    }
}

bool FakeVideoCapture::grab()
{
    if (!device_->opened)
        return false;
    {
        std::lock_guard lock(device_->mutex);
        if (device_->openedOn.back() != std::this_thread::get_id())
            device_->grabbedElsewhere = true;
    }
    device_->grabGate.pass();
    const long frame = device_->grabs++;
    if (const int fps = device_->framesPerSecond; fps > 0) {
        // A device delivers at its own pace: grab waits for the next frame.
        std::this_thread::sleep_until(nextFrame_);
        nextFrame_ += std::chrono::nanoseconds(1'000'000'000 / fps);
    }
    current_ = frame;
    return true;
}

bool FakeVideoCapture::retrieve(cv::OutputArray image, int)
{
    if (current_ < 0)
        return false;
    const long frame = std::exchange(current_, -1);
    if (const long throwFrom = device_->throwFrom; throwFrom >= 0 && frame >= throwFrom)
        CV_Error(cv::Error::StsError, "fake back end failed while converting a frame");
    const long wrongFrom = device_->wrongSizeFrom;
    const int width = wrongFrom >= 0 && frame >= wrongFrom ? device_->width - 8 : device_->width;
    image.create(device_->height, width, CV_8UC3);
    // Packed rows: the caller's slot, or a new matrix when the size differs from it.
    cv::Mat pixels = image.getMat();
    for (std::size_t i = 0; i < pixels.total() * 3; ++i)
        pixels.data[i] = FakeDevice::byteOf(frame, i);
    return true;
}

bool FakeVideoCapture::set(int propId, double value)
{
    std::lock_guard lock(device_->mutex);
    device_->sets.emplace_back(propId, value);
    return true;
}

double FakeVideoCapture::get(int propId) const
{
    // Like V4L2: the size the device settled on, whatever was asked for. Nothing else is
    // known (0): the rate is taken as asked.
    if (propId == cv::CAP_PROP_FRAME_WIDTH)
        return device_->width;
    if (propId == cv::CAP_PROP_FRAME_HEIGHT)
        return device_->height;
    return 0.0;
}

} // namespace Vardel::testing
