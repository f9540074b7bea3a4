#include "capture/jpeg_decoder.h"

#include <turbojpeg.h>

namespace Vardel {

JpegDecoder::JpegDecoder() : handle_(tjInitDecompress()) {}

JpegDecoder::~JpegDecoder()
{
    if (handle_)
        tjDestroy(handle_);
}

JpegDecoder::Result JpegDecoder::decode(const std::uint8_t* jpeg, std::size_t bytes, std::uint8_t* bgr, int width,
                                        int height)
{
    if (!handle_) {
        error_ = "no decoder";
        return Result::Failed;
    }
    int subsampling = 0;
    int colourspace = 0;
    if (tjDecompressHeader3(handle_, jpeg, static_cast<unsigned long>(bytes), &width_, &height_, &subsampling,
                            &colourspace)
        != 0) {
        error_ = tjGetErrorStr2(handle_);
        return Result::Failed;
    }
    if (width_ != width || height_ != height)
        return Result::WrongSize;
    // The fast integer transform, as video decoders use by default: the slower exact one
    // differs by a step or two where a block has fine detail. Warnings (damaged data the
    // library carries on through) fail the frame too: a frame with a grey band is not
    // published.
    if (tjDecompress2(handle_, jpeg, static_cast<unsigned long>(bytes), bgr, width, 0, height, TJPF_BGR,
                      TJFLAG_FASTDCT)
        != 0) {
        error_ = tjGetErrorStr2(handle_);
        return Result::Failed;
    }
    return Result::Decoded;
}

} // namespace Vardel
