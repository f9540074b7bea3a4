#pragma once

// What a device offers, and how a capture back end picks among it by itself. Free of Qt
// and of any platform header: the Linux and Windows capability readers fill it, the
// format choice reads it.

#include <cstdint>
#include <span>

namespace Vardel {

// A format code as the back end's CAP_PROP_FOURCC takes it: a FOURCC, least significant
// byte first ('Y','U','Y','V' is 0x56595559), or on DirectShow the first 32 bits of a
// media subtype that has none (RGB24 is 0xe436eb7d), which is what OpenCV compares.
constexpr std::uint32_t fourcc(char a, char b, char c, char d)
{
    return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 | std::uint32_t(std::uint8_t(c)) << 16
        | std::uint32_t(std::uint8_t(d)) << 24;
}

// One format at one size, with the highest rate the device names for it.
struct CaptureMode {
    std::uint32_t fourcc = 0;
    int width = 0;
    int height = 0;
    double maxFps = 0; // 0 when the device does not say

    friend bool operator==(const CaptureMode&, const CaptureMode&) = default;
};

// What the back end makes of a format on its way to 8-bit BGR.
enum class Delivery {
    Converted, // uncompressed: a colour conversion, no artefacts
    Decoded,   // JPEG: decoded, with its artefacts and its cost
    Unusable,  // no colour picture (grey, depth), or a decoder nobody should be steered to
};

struct BackendFormat {
    std::uint32_t fourcc;
    Delivery delivery;
};

// How a back end picks a format when told none: the first of its list the device takes.
struct BackendFormats {
    std::span<const BackendFormat> tryOrder;
    // True where the pick is made once at open, at whatever size, and kept through later
    // size changes (OpenCV's V4L2 back end); false where it is made again at the size
    // asked (its DirectShow back end).
    bool pickKeptAcrossSizes = false;
};

} // namespace Vardel
