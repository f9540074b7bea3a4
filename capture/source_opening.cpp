#include "capture/capture_engine.h"

#include "capture/capture_names.h"
#include "capture/format_choice.h"
#include "capture/platform.h"
#include "capture/ring_geometry.h"
#include "capture/start_parameters.h"
#include "capture/steady_clock.h"
#include "host/logging_service.h"

#include <opencv2/videoio.hpp>

#include <algorithm>
#include <exception>
#include <vector>

namespace Vardel {

namespace {
// A source that failed to open is not tried again for this long: opening a missing
// device can take seconds on some back ends.
constexpr std::int64_t kFailedSourceHoldOffNs = 30'000'000'000;
// A rate within this of the one asked reaches it (59.94 for 60, as broadcast timings give).
constexpr double kRateTolerance = 0.99;

// A size the back end reports, or 0 when it reports none it could deliver (a back end
// that cannot tell answers 0 or -1).
int reportedSize(double value) { return value >= 1.0 && value <= 65535.0 ? int(value) : 0; }

struct Size {
    int width;
    int height;
};

// A device answers a size it cannot give with the nearest one it can: frames come at that
// size, and the pump must size its slots to match.
Size settledSize(const cv::VideoCapture& capture, Size asked)
{
    const int width = reportedSize(capture.get(cv::CAP_PROP_FRAME_WIDTH));
    const int height = reportedSize(capture.get(cv::CAP_PROP_FRAME_HEIGHT));
    return width > 0 && height > 0 ? Size{width, height} : asked;
}

// The rate frames will come at: what the back end reports (V4L2 reads it back from the
// driver; DirectShow repeats what was asked), no faster than the format's best at that
// size where the device names it.
double settledRate(const cv::VideoCapture& capture, int asked, double formatBest)
{
    const double reported = capture.get(cv::CAP_PROP_FPS);
    double rate = reported > 0 && reported < 100'000 ? reported : double(asked);
    if (formatBest > 0)
        rate = std::min(rate, formatBest);
    return rate;
}

bool isJpeg(double code)
{
    const auto format = std::uint32_t(std::int64_t(code));
    return format == fourcc('M', 'J', 'P', 'G') || format == fourcc('J', 'P', 'E', 'G');
}

QString rateText(double fps) { return QString::number(fps, 'g', 6) + QStringLiteral("fps"); }

// Leaves the capture object closed after a back end threw half-way through opening it.
void releaseQuietly(cv::VideoCapture& capture)
{
    try {
        if (capture.isOpened())
            capture.release();
    } catch (const std::exception&) {
        // Nothing more can be done with a back end that throws while closing.
    }
}
} // namespace

bool CaptureEngine::openVideoSource(const QString& source, int width, int height, int fps)
{
    auto* log = LoggingService::instance();
    const std::int64_t now = steadyNowNs();
    if (source == lastFailedSource && now - lastFailedTime < kFailedSourceHoldOffNs)
        return false;

    // A back end may throw instead of answering false; on this thread that would end the
    // host. Either way the open failed: held off and reported the same.
    bool opened = false;
    decodeJpeg = false;
    Size delivered{width, height};
    double rate = fps;
    try {
        // A negative index other than the test source's names no device; some back ends
        // would open their first camera for it.
        const int index = deviceIndexOf(source);
        // Asked before the back end holds the device.
        const std::vector<CaptureMode> modes = index >= 0 && readModes ? readModes(index) : std::vector<CaptureMode>{};
        opened = index >= 0 && videoCapture->open(index, platform::captureBackend());
        if (opened) {
            // Whatever the device makes of these, frames are asked for as 8-bit BGR of this size.
            videoCapture->set(cv::CAP_PROP_CONVERT_RGB, 1.0);
            videoCapture->set(cv::CAP_PROP_FRAME_WIDTH, double(width));
            videoCapture->set(cv::CAP_PROP_FRAME_HEIGHT, double(height));
            videoCapture->set(cv::CAP_PROP_FPS, double(fps));
            videoCapture->set(cv::CAP_PROP_BUFFERSIZE, 0.0);
            videoCapture->set(cv::CAP_PROP_READ_TIMEOUT_MSEC, 1.0);
            // The back end picks a format by a fixed order, not by what reaches the rate (a
            // webcam's raw 1080p may come at 5 frames/s where its JPEG comes at 30): the
            // format that does is set last, where DirectShow keeps it, and then the device
            // is asked what it settled on. At a size the device does not offer, the choice
            // is made at the one it settled on.
            const auto& formats = platform::backendFormats();
            FormatChoice choice = chooseFormat(modes, width, height, fps, formats);
            if (!choice.sizeOffered) {
                const Size settled = settledSize(*videoCapture, delivered);
                choice = chooseFormat(modes, settled.width, settled.height, fps, formats);
            }
            if (choice.fourcc)
                videoCapture->set(cv::CAP_PROP_FOURCC, double(*choice.fourcc));
            delivered = settledSize(*videoCapture, delivered);
            rate = settledRate(*videoCapture, fps, choice.fps);
            // A JPEG format decoded by the back end goes into a buffer of its own and is
            // copied from there; its bytes as they came are decoded straight into the slot.
            decodeJpeg = platform::backendHandsOutJpeg() && isJpeg(videoCapture->get(cv::CAP_PROP_FOURCC))
                && videoCapture->set(cv::CAP_PROP_CONVERT_RGB, 0.0);
        }
    } catch (const std::exception&) {
        opened = false;
        releaseQuietly(*videoCapture);
    }
    if (!opened) {
        lastFailedSource = source;
        lastFailedTime = now;
        log->error(names::logSource, QStringLiteral("Failed to open video source: %1").arg(source));
        return false;
    }
    lastFailedSource.clear();
    // Single arg calls below: a '%' in the device name must not be taken for a placeholder.
    const QString size = QStringLiteral("%1x%2").arg(delivered.width).arg(delivered.height);
    if (!frameFitsSlot(delivered.width, delivered.height)) {
        releaseQuietly(*videoCapture);
        log->error(names::logSource, QStringLiteral("Device %1 delivers %2 frames, more than a ring slot holds (%3 bytes)")
                                         .arg(source, size, QString::number(kRingSlotBytes)));
        return false;
    }
    if (delivered.width != width || delivered.height != height) {
        log->warning(names::logSource, QStringLiteral("Device %1 cannot deliver %2x%3; capturing at %4 instead")
                                           .arg(source, QString::number(width), QString::number(height), size));
    }
    if (rate < fps * kRateTolerance) {
        log->warning(names::logSource, QStringLiteral("Device %1 cannot deliver %2 at %3; capturing at %4 instead")
                                           .arg(source, rateText(fps), size, rateText(rate)));
    }
    captureWidth = std::uint32_t(delivered.width);
    captureHeight = std::uint32_t(delivered.height);
    log->info(names::logSource,
              QStringLiteral("Opened Device %1 at %2 %3 (BGR-only mode)").arg(source, size, rateText(rate)));
    return true;
}

} // namespace Vardel
