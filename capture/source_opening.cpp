#include "capture/capture_engine.h"

#include "capture/capture_names.h"
#include "capture/platform.h"
#include "capture/ring_geometry.h"
#include "capture/start_parameters.h"
#include "capture/steady_clock.h"
#include "host/logging_service.h"

#include <opencv2/videoio.hpp>

#include <exception>

namespace Vardel {

namespace {
// A source that failed to open is not tried again for this long: opening a missing
// device can take seconds on some back ends.
constexpr std::int64_t kFailedSourceHoldOffNs = 30'000'000'000;

// A size the back end reports, or 0 when it reports none it could deliver (a back end
// that cannot tell answers 0 or -1).
int reportedSize(double value) { return value >= 1.0 && value <= 65535.0 ? int(value) : 0; }

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
    int deliveredWidth = width;
    int deliveredHeight = height;
    try {
        // A negative index other than the test source's names no device; some back ends
        // would open their first camera for it.
        const int index = deviceIndexOf(source);
        opened = index >= 0 && videoCapture->open(index, platform::captureBackend());
        if (opened) {
            // Whatever the device makes of these, frames are asked for as 8-bit BGR of this size.
            videoCapture->set(cv::CAP_PROP_CONVERT_RGB, 1.0);
            videoCapture->set(cv::CAP_PROP_FRAME_WIDTH, double(width));
            videoCapture->set(cv::CAP_PROP_FRAME_HEIGHT, double(height));
            videoCapture->set(cv::CAP_PROP_FPS, double(fps));
            videoCapture->set(cv::CAP_PROP_BUFFERSIZE, 0.0);
            videoCapture->set(cv::CAP_PROP_READ_TIMEOUT_MSEC, 1.0);
            // A device answers a size it cannot give with the nearest one it can: frames
            // come at that size, and the pump must size its slots to match.
            const int settledWidth = reportedSize(videoCapture->get(cv::CAP_PROP_FRAME_WIDTH));
            const int settledHeight = reportedSize(videoCapture->get(cv::CAP_PROP_FRAME_HEIGHT));
            if (settledWidth > 0 && settledHeight > 0) {
                deliveredWidth = settledWidth;
                deliveredHeight = settledHeight;
            }
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
    const QString delivered = QStringLiteral("%1x%2").arg(deliveredWidth).arg(deliveredHeight);
    if (!frameFitsSlot(deliveredWidth, deliveredHeight)) {
        releaseQuietly(*videoCapture);
        log->error(names::logSource, QStringLiteral("Device %1 delivers %2 frames, more than a ring slot holds (%3 bytes)")
                                         .arg(source, delivered, QString::number(kRingSlotBytes)));
        return false;
    }
    if (deliveredWidth != width || deliveredHeight != height) {
        log->warning(names::logSource, QStringLiteral("Device %1 cannot deliver %2x%3; capturing at %4 instead")
                                           .arg(source, QString::number(width), QString::number(height), delivered));
    }
    captureWidth = std::uint32_t(deliveredWidth);
    captureHeight = std::uint32_t(deliveredHeight);
    log->info(names::logSource, QStringLiteral("Opened Device %1 at %2 %3fps (BGR-only mode)")
                                    .arg(source, delivered, QString::number(fps)));
    return true;
}

} // namespace Vardel
