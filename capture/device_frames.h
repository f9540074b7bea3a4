#pragma once

// A device's frames on their way into ring slots: converted to BGR by the capture back end
// straight into the slot, or, where the back end hands out a JPEG frame's own bytes,
// decoded into it here. A frame that cannot land in the slot whole is dropped, and each
// reason is said once per session.

#include "capture/jpeg_decoder.h"

#include <cstdint>
#include <vector>

namespace cv {
class VideoCapture;
}

namespace Vardel {

class DeviceFrames {
public:
    // jpeg: the back end hands out JPEG bytes (CAP_PROP_CONVERT_RGB is off on a JPEG format).
    DeviceFrames(cv::VideoCapture& capture, int width, int height, bool jpeg);

    enum class Outcome {
        NoFrame, // the grab or the retrieve failed: nothing came
        Dropped, // a frame came, but not one the slot can hold: another size, or undecodable
        Read,    // the slot holds the frame, whole
    };
    // Grabs the device's next frame into slot (width x height x 3 bytes). May throw what the
    // back end throws.
    Outcome read(std::uint8_t* slot);

private:
    Outcome dropped(int frameWidth, int frameHeight, int channels);

    cv::VideoCapture& capture_;
    const int width_;
    const int height_;
    const bool jpeg_;
    JpegDecoder decoder_;
    std::vector<std::uint8_t> compressed_; // reused: its capacity stays
    bool wrongSizeReported_ = false;
    bool undecodableReported_ = false;
};

} // namespace Vardel
