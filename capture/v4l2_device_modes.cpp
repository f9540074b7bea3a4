#include "capture/v4l2_device_modes.h"

#include "capture/file_descriptor.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>

namespace Vardel::v4l2 {

namespace {

// A driver that answers every index would keep a walk going for ever; none lists more.
constexpr std::uint32_t kMaxEntries = 256;

// The sizes users choose (the panel's), asked of a driver that offers a range of sizes.
constexpr std::array<std::array<std::uint32_t, 2>, 4> kCommonSizes{{{640, 480}, {1280, 720}, {1920, 1080}, {2560, 1440}}};

bool onSteps(std::uint32_t value, std::uint32_t min, std::uint32_t max, std::uint32_t step)
{
    return value >= min && value <= max && (step == 0 || (value - min) % step == 0);
}

double rateOf(const v4l2_fract& interval)
{
    return interval.numerator == 0 ? 0.0 : double(interval.denominator) / double(interval.numerator);
}

// The highest rate the node names for a format at a size; 0 when it names none (ENOTTY
// from an emulation, EINVAL from a driver without intervals).
double maxFps(const Ioctl& ioctl, std::uint32_t format, std::uint32_t width, std::uint32_t height)
{
    double best = 0;
    for (std::uint32_t index = 0; index < kMaxEntries; ++index) {
        v4l2_frmivalenum interval{};
        interval.index = index;
        interval.pixel_format = format;
        interval.width = width;
        interval.height = height;
        if (ioctl(VIDIOC_ENUM_FRAMEINTERVALS, &interval) != 0)
            break;
        if (interval.type != V4L2_FRMIVAL_TYPE_DISCRETE)
            return std::max(best, rateOf(interval.stepwise.min)); // the shortest of the range
        best = std::max(best, rateOf(interval.discrete));
    }
    return best;
}

std::vector<std::array<std::uint32_t, 2>> sizesOf(const Ioctl& ioctl, std::uint32_t format)
{
    std::vector<std::array<std::uint32_t, 2>> sizes;
    for (std::uint32_t index = 0; index < kMaxEntries; ++index) {
        v4l2_frmsizeenum size{};
        size.index = index;
        size.pixel_format = format;
        if (ioctl(VIDIOC_ENUM_FRAMESIZES, &size) != 0)
            break;
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            if (size.discrete.width > 0 && size.discrete.height > 0)
                sizes.push_back({size.discrete.width, size.discrete.height});
            continue;
        }
        // Stepwise or continuous: one answer describes the whole range.
        const v4l2_frmsize_stepwise& range = size.stepwise;
        if (size.type != V4L2_FRMSIZE_TYPE_STEPWISE && size.type != V4L2_FRMSIZE_TYPE_CONTINUOUS)
            break;
        for (const auto& [w, h] : kCommonSizes) {
            if (onSteps(w, range.min_width, range.max_width, range.step_width)
                && onSteps(h, range.min_height, range.max_height, range.step_height))
                sizes.push_back({w, h});
        }
        if (range.max_width > 0 && range.max_height > 0
            && std::ranges::find(sizes, std::array{range.max_width, range.max_height}) == sizes.end())
            sizes.push_back({range.max_width, range.max_height});
        break;
    }
    return sizes;
}

int systemIoctl(int fd, unsigned long request, void* argument)
{
    int result;
    do
        result = ::ioctl(fd, request, argument);
    while (result < 0 && errno == EINTR);
    return result == 0 ? 0 : errno;
}

constexpr auto D = Delivery::Converted, J = Delivery::Decoded, U = Delivery::Unusable;

// The try order of autosetup_capture_mode_v4l2 as the library on this system holds it.
// XR24 and AR24 drop their alpha byte; S910 is a Sonix compression only old webcams send;
// the grey ones have no colour.
constexpr BackendFormat kOpenCvOrder[] = {
    {V4L2_PIX_FMT_BGR24, D},  {V4L2_PIX_FMT_RGB24, D},  {V4L2_PIX_FMT_YVU420, D},  {V4L2_PIX_FMT_YUV420, D},
    {V4L2_PIX_FMT_YUV411P, D}, {V4L2_PIX_FMT_YUYV, D},  {V4L2_PIX_FMT_UYVY, D},    {V4L2_PIX_FMT_NV12, D},
    {V4L2_PIX_FMT_NV21, D},   {V4L2_PIX_FMT_SBGGR8, D}, {V4L2_PIX_FMT_SGBRG8, D},  {V4L2_PIX_FMT_XBGR32, D},
    {V4L2_PIX_FMT_ABGR32, D}, {V4L2_PIX_FMT_SN9C10X, U}, {V4L2_PIX_FMT_MJPEG, J},  {V4L2_PIX_FMT_JPEG, J},
    {V4L2_PIX_FMT_Y16, U},    {V4L2_PIX_FMT_Y12, U},    {V4L2_PIX_FMT_Y10, U},     {V4L2_PIX_FMT_GREY, U},
};

} // namespace

std::vector<CaptureMode> modesOf(const Ioctl& ioctl)
{
    std::vector<CaptureMode> modes;
    for (std::uint32_t index = 0; index < kMaxEntries; ++index) {
        v4l2_fmtdesc format{};
        format.index = index;
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (ioctl(VIDIOC_ENUM_FMT, &format) != 0)
            break;
        for (const auto& [width, height] : sizesOf(ioctl, format.pixelformat)) {
            modes.push_back({format.pixelformat, int(width), int(height),
                             maxFps(ioctl, format.pixelformat, width, height)});
        }
    }
    return modes;
}

std::vector<CaptureMode> deviceModes(const std::string& path)
{
    const FileDescriptor node(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!node)
        return {};
    return modesOf([&](unsigned long request, void* argument) { return systemIoctl(node.get(), request, argument); });
}

const BackendFormats& openCvFormats()
{
    static const BackendFormats formats{kOpenCvOrder, true};
    return formats;
}

} // namespace Vardel::v4l2
