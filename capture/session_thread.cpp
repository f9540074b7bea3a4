// The session thread: reads what the start asks for, opens the device or chooses the test
// pattern, answers, runs the frame loop and closes the device, all on this one thread.

#include "capture/capture_engine.h"

#include "capture/capture_names.h"
#include "capture/ring_geometry.h"
#include "capture/start_parameters.h"
#include "host/logging_service.h"
#include "host/ring/video_ring_buffer_writer.h"

#include <opencv2/videoio.hpp>

#include <exception>

namespace Vardel {

void CaptureEngine::runSession(const CaptureRequest& request)
{
    auto* log = LoggingService::instance();
    const auto refuse = [&](const QString& error) {
        log->error(names::logSource, error);
        running.store(false, std::memory_order_relaxed);
        answer(&CaptureEngine::onRefused);
    };

    const auto resolution = parseResolution(request.resolution);
    if (!resolution)
        return refuse(QStringLiteral("Invalid resolution format"));
    const bool test = isTestSource(request.source);
    if (const auto error = captureLimitError(resolution->width, resolution->height, request.frameRate, test,
                                             kRingSlotBytes))
        return refuse(*error);

    testMode = test;
    sessionFrameRate = request.frameRate;
    if (test) {
        captureWidth = std::uint32_t(resolution->width);
        captureHeight = std::uint32_t(resolution->height);
        log->info(names::logSource, QStringLiteral("Video Input Test mode at %1x%2 %3fps")
                                        .arg(resolution->width)
                                        .arg(resolution->height)
                                        .arg(request.frameRate));
    } else if (!openVideoSource(request.source, resolution->width, resolution->height, request.frameRate)) {
        return refuse(QStringLiteral("Failed to initialize capture for source: %1").arg(request.source));
    }

    // A stop that came while the device opened ends the session before it begins.
    if (!running.load(std::memory_order_relaxed)) {
        closeDevice();
        answer(&CaptureEngine::onRefused);
        return;
    }
    ringWriter->setCaptureActive(true);
    answer(&CaptureEngine::onStarted);

    const LoopEnd end = test ? testPatternLoop() : captureLoop();

    ringWriter->setCaptureActive(false);
    closeDevice();
    if (end == LoopEnd::RingGone) {
        running.store(false, std::memory_order_relaxed);
        log->error(names::logSource,
                   QStringLiteral("Capture stopped: the video ring buffer %1 is gone; it is connected again at the next start")
                       .arg(ringName));
        answer(&CaptureEngine::onEnded);
    }
}

void CaptureEngine::closeDevice()
{
    if (testMode || !videoCapture)
        return;
    try {
        if (videoCapture->isOpened())
            videoCapture->release();
    } catch (const std::exception&) {
        // Nothing more can be done with a back end that throws while closing.
    }
}

} // namespace Vardel
