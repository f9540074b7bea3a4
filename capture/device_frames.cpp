#include "capture/device_frames.h"

#include "capture/capture_names.h"
#include "host/logging_service.h"

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <utility>

namespace Vardel {

DeviceFrames::DeviceFrames(cv::VideoCapture& capture, int width, int height, bool jpeg)
    : capture_(capture), width_(width), height_(height), jpeg_(jpeg)
{
    // A JPEG frame is smaller than its pixels: with this capacity, retrieving one never
    // allocates on the frame thread.
    if (jpeg_)
        compressed_.reserve(std::size_t(width) * std::size_t(height) * 3);
}

DeviceFrames::Outcome DeviceFrames::read(std::uint8_t* slot)
{
    if (!capture_.grab())
        return Outcome::NoFrame;
    if (jpeg_) {
        if (!capture_.retrieve(compressed_, 0) || compressed_.empty())
            return Outcome::NoFrame;
        const auto result = decoder_.decode(compressed_.data(), compressed_.size(), slot, width_, height_);
        if (result == JpegDecoder::Result::Decoded)
            return Outcome::Read;
        if (result == JpegDecoder::Result::WrongSize)
            return dropped(decoder_.width(), decoder_.height(), 3);
        if (!std::exchange(undecodableReported_, true)) {
            LoggingService::instance()->warning(
                names::logSource,
                QStringLiteral("Device delivered a frame that cannot be decoded (%1); dropping such frames")
                    .arg(QString::fromStdString(decoder_.lastError())));
        }
        return Outcome::Dropped; // the slot may hold part of it: the caller cancels it
    }
    cv::Mat image(height_, width_, CV_8UC3, slot);
    if (!capture_.retrieve(image, 0))
        return Outcome::NoFrame;
    // A frame of another size or type cannot land in the slot: OpenCV then converts into
    // a buffer of its own and the slot still holds an old frame. Never publish that.
    if (image.data != slot || image.cols != width_ || image.rows != height_ || image.type() != CV_8UC3)
        return dropped(image.cols, image.rows, image.channels());
    return Outcome::Read;
}

DeviceFrames::Outcome DeviceFrames::dropped(int frameWidth, int frameHeight, int channels)
{
    if (!std::exchange(wrongSizeReported_, true)) {
        LoggingService::instance()->warning(
            names::logSource, QStringLiteral("Device delivered %1x%2 frames (%3 channels), expected %4x%5 BGR; dropping them")
                                  .arg(frameWidth)
                                  .arg(frameHeight)
                                  .arg(channels)
                                  .arg(width_)
                                  .arg(height_));
    }
    return Outcome::Dropped;
}

} // namespace Vardel
