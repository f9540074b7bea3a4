// Capture sessions: start and stop on worker threads, restart on a source change, and
// the write rate once a second.
//
// Threads and what orders them (there are no locks):
// - The user-interface thread runs the slots, the notifications and updateFPS. It joins
//   the stop worker before it joins the start worker or stops a session itself, so at
//   most one thread ever stops a session or joins the start thread.
// - The start worker writes the session fields (testMode, captureWidth, captureHeight,
//   sessionFrameRate, the statistics) before it sets running (release), and creates the
//   frame thread after; readers of these fields either see running set (acquire) or are
//   ordered by thread creation or join.
// - stopCapture joins the start worker before clearing running, because a worker that
//   has just set running is still creating the frame thread.

#include "plugin/korvane_plugin.h"

#include "capture/capture_request.h"
#include "capture/session_notifier.h"
#include "capture/start_parameters.h"
#include "capture/steady_clock.h"
#include "capture/write_rate.h"
#include "host/logging_service.h"
#include "host/ring/video_ring_buffer_writer.h"
#include "plugin/plugin_names.h"
#include "ui/korvane_widget.h"

#include <opencv2/videoio.hpp>

#include <utility>

namespace Vardel {

namespace {
constexpr std::uint64_t kSlotBytes = 16 * 1024 * 1024;
}

void KorvanePlugin::onCaptureToggleRequested(bool startCapture)
{
    if (startCapture) {
        if (widget)
            widget->setStartingState();
        startCaptureAsync();
        // With a session already running no worker answers; the button must not stay disabled.
        if (widget && running.load(std::memory_order_acquire) && !startPending)
            widget->resetStartStopButton();
        return;
    }
    if (widget)
        widget->setCaptureState(false, 0.0);
    stopThread.stop();
    stopThread = std::thread(&KorvanePlugin::stopCaptureWorker, this);
}

void KorvanePlugin::onVideoSourceChanged(const QString& source)
{
    applyVideoSource(source);
    saveSettings();
}

void KorvanePlugin::startCaptureAsync()
{
    if (running.load(std::memory_order_acquire))
        return;
    if (widget)
        widget->setStartingState();
    // The start worker that has not answered yet may be opening a device for seconds, and
    // joining it here would freeze the user-interface thread that long. This request is
    // taken up when that answer arrives instead.
    if (startPending) {
        startQueued = true;
        return;
    }

    CaptureRequest request;
    const QString selected = widget ? widget->currentVideoSource() : QString();
    if (!selected.isEmpty())
        videoSource = selected;
    if (videoSource.isEmpty()) {
        // The device list always starts with the test source; no need to enumerate for it.
        videoSource = names::testSource;
        request.firstDevice = true;
    }
    request.source = videoSource;
    request.resolution = captureResolution;
    request.frameRate = captureFrameRate;
    startPending = true;

    waitForWorkers();
    startThread = std::thread(&KorvanePlugin::startCaptureWorker, this, std::move(request));
}

void KorvanePlugin::startCaptureWorker(const CaptureRequest& request)
{
    auto* log = LoggingService::instance();
    auto refuse = [this] { notifier->startRefused(); };

    if (running.load(std::memory_order_acquire)) {
        refuse();
        return;
    }
    if (request.firstDevice)
        notifier->firstDeviceChosen();
    const auto resolution = parseResolution(request.resolution);
    if (!resolution) {
        log->error(names::logSource, QStringLiteral("Invalid resolution format"));
        refuse();
        return;
    }
    const bool test = isTestSource(request.source);
    if (const auto error =
            captureLimitError(resolution->width, resolution->height, request.frameRate, test, kSlotBytes)) {
        log->error(names::logSource, *error);
        refuse();
        return;
    }
    // Before initialize and after shutdown there is nothing to capture with or into.
    if (!ringWriter || !ringWriter->isConnected() || !videoCapture) {
        log->error(names::logSource, QStringLiteral("Capture is not available: the video ring buffer is not connected"));
        refuse();
        return;
    }

    testMode = test;
    if (test) {
        captureWidth = std::uint32_t(resolution->width);
        captureHeight = std::uint32_t(resolution->height);
        log->info(names::logSource, QStringLiteral("Video Input Test mode at %1x%2 %3fps")
                                        .arg(resolution->width)
                                        .arg(resolution->height)
                                        .arg(request.frameRate));
    } else if (!openVideoSource(request.source, resolution->width, resolution->height, request.frameRate)) {
        log->error(names::logSource,
                   QStringLiteral("Failed to initialize capture for source: %1").arg(request.source));
        refuse();
        return;
    }
    sessionFrameRate = request.frameRate;

    // The statistics are complete before running is seen: updateFPS never mixes sessions.
    framesWritten.store(0, std::memory_order_relaxed);
    fpsLastTime = steadyNowNs();
    fpsLastCount = 0;
    running.store(true, std::memory_order_release);

    frameThread.stop();
    frameThread = std::thread(test ? &KorvanePlugin::testPatternLoop : &KorvanePlugin::captureLoop, this);
    ringWriter->setCaptureActive(true);

    notifier->sessionStarted();
}

void KorvanePlugin::stopCapture()
{
    if (!running.load(std::memory_order_acquire))
        return;
    // A start worker that has just set running may still be creating the frame thread.
    startThread.stop();
    if (!running.exchange(false, std::memory_order_acq_rel))
        return;
    ringWriter->setCaptureActive(false);
    frameThread.stop();
    const bool wasTest = testMode;
    testMode = false;
    if (!wasTest && videoCapture && videoCapture->isOpened())
        videoCapture->release();
}

void KorvanePlugin::stopCaptureWorker()
{
    stopCapture();
    LoggingService::instance()->info(names::logSource, QStringLiteral("Capture stopped"));
    notifier->sessionStopped();
}

void KorvanePlugin::applyVideoSource(const QString& source)
{
    if (source == videoSource)
        return;
    // A stop the user asked for completes first, and nobody else stops while this does.
    stopThread.stop();
    const bool wasRunning = running.load(std::memory_order_acquire);
    if (wasRunning) {
        if (widget)
            widget->setCaptureState(false, 0.0);
        stopCapture();
    }
    videoSource = source;
    // The panel shows the new source before the restart, which starts from the panel's choice.
    if (widget)
        widget->setVideoSource(source);
    if (wasRunning)
        startCaptureAsync();
}

void KorvanePlugin::onStartRefused()
{
    startPending = false;
    if (widget)
        widget->resetStartStopButton();
    takeUpQueuedStart();
}

void KorvanePlugin::onFirstDeviceChosen()
{
    if (widget)
        widget->setVideoSource(videoSource);
}

void KorvanePlugin::onSessionStarted()
{
    startPending = false;
    if (widget) {
        // A stop may have ended the session before this arrived.
        if (running.load(std::memory_order_acquire))
            widget->setCaptureState(true, currentFps);
        else
            widget->resetStartStopButton();
    }
    takeUpQueuedStart();
}

void KorvanePlugin::takeUpQueuedStart()
{
    // A session that is running by now already is what the queued request asked for.
    if (std::exchange(startQueued, false))
        startCaptureAsync();
}

void KorvanePlugin::onSessionStopped()
{
    // A start that completed after the panel had been switched to stopped leaves the
    // panel showing a session this stop has ended. A start still pending answers itself.
    if (widget && !running.load(std::memory_order_acquire) && !startPending)
        widget->setCaptureState(false, 0.0);
}

void KorvanePlugin::updateFPS()
{
    if (!running.load(std::memory_order_acquire))
        return;
    const std::int64_t now = steadyNowNs();
    const std::int64_t elapsed = now - fpsLastTime;
    if (elapsed < kMinRateIntervalNs)
        return;
    const std::int64_t count = framesWritten.load(std::memory_order_relaxed);
    // The counter wraps after 2^31 frames (about a hundred days at 240 frames per second);
    // the difference of the low 32 bits stays right across the wrap.
    currentFps = writeRate(std::uint32_t(count) - std::uint32_t(fpsLastCount), elapsed);
    if (widget)
        widget->setCaptureState(true, currentFps);
    fpsLastCount = std::uint64_t(count);
    fpsLastTime = now;
}

} // namespace Vardel
