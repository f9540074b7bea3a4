#pragma once

// JPEG frames decoded straight into a ring slot, as 8-bit BGR, with libjpeg-turbo's
// TurboJPEG API. Where a capture back end hands out a JPEG frame's own bytes, this saves
// the back end's decoding into a buffer of its own and the copy out of it.

#include <cstddef>
#include <cstdint>
#include <string>

namespace Vardel {

class JpegDecoder {
public:
    JpegDecoder();
    ~JpegDecoder();
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    enum class Result {
        Decoded,   // width x height BGR pixels, rows packed, written to the destination
        WrongSize, // the frame is another size (width() and height() say which); nothing written
        Failed,    // not a JPEG, or damaged: the destination may hold part of it
    };
    Result decode(const std::uint8_t* jpeg, std::size_t bytes, std::uint8_t* bgr, int width, int height);

    // The size of the last frame looked at, and why the last decode failed.
    int width() const { return width_; }
    int height() const { return height_; }
    const std::string& lastError() const { return error_; }

private:
    void* handle_; // tjhandle
    int width_ = 0;
    int height_ = 0;
    std::string error_;
};

} // namespace Vardel
