// Capture sessions: start and stop on worker threads, restart on a source change, and
// the write rate once a second.
//
// Threads and what orders them (there are no locks):
// - The user-interface thread runs the slots, the workers' answers and updateFPS. It
//   keeps the requests in order: while a start or a stop worker has not answered, a new
//   start is queued and taken up with the answer, so this thread never waits for a
//   device to open or for a frame thread stuck in a blocked grab.
// - The start worker writes the session fields (testMode, captureWidth, captureHeight,
//   sessionFrameRate, the statistics) before it sets running (release), and creates the
//   frame thread after; readers of these fields either see running set (acquire) or are
//   ordered by thread creation or join.
// - stopCapture joins the start worker before clearing running, because a worker that
//   has just set running is still creating the frame thread. Only the stop thread runs
//   stopCapture, and the user-interface thread joins the stop thread before it joins
//   the start thread, so no thread is ever joined by two at once.

#include "plugin/korvane_plugin.h"

#include "capture/capture_request.h"
#include "capture/start_parameters.h"
#include "capture/steady_clock.h"
#include "capture/write_rate.h"
#include "host/logging_service.h"
#include "host/ring/video_ring_buffer_writer.h"
#include "plugin/plugin_names.h"
#include "plugin/ring_geometry.h"

#include <QMetaObject>

#include <opencv2/videoio.hpp>

#include <utility>

namespace Vardel {

void KorvanePlugin::onCaptureToggleRequested(bool startCapture)
{
    if (startCapture) {
        showStarting();
        startCaptureAsync();
        return;
    }
    showIdle();
    startQueued = false; // a stop also cancels a start waiting for its turn
    requestStop();
}

void KorvanePlugin::onVideoSourceChanged(const QString& source)
{
    applyVideoSource(source);
    saveSettings();
}

std::optional<QString> KorvanePlugin::unavailableReason() const
{
    switch (lifecycle) {
    case Lifecycle::Constructed:
        return QStringLiteral("Capture is not available: the plug-in has not been initialized");
    case Lifecycle::ShutDown:
        return QStringLiteral("Capture is not available: the plug-in has been shut down");
    case Lifecycle::Initialized:
        break;
    }
    if (!ringConnected)
        return QStringLiteral("Capture is not available: the video ring buffer %1 is not connected").arg(ringName);
    return std::nullopt;
}

void KorvanePlugin::startCaptureAsync()
{
    assertUserInterfaceThread();
    // A worker that has not answered yet may be opening a device, or stopping a frame
    // thread stuck in a grab, for seconds; joining it here would freeze the panel that
    // long. The start is taken up when the answer arrives instead.
    if (startPending || stopPending) {
        startQueued = true;
        showStarting();
        return;
    }
    if (running.load(std::memory_order_acquire))
        return showStartAnswered(); // nothing to start, no worker to answer: the button must not stay disabled
    if (const auto reason = unavailableReason()) {
        LoggingService::instance()->error(names::logSource, *reason);
        showStartAnswered();
        return;
    }
    showStarting();

    CaptureRequest request;
    const QString selected = panelSource();
    if (!selected.isEmpty() && selected != videoSource) {
        videoSource = selected;
        saveSettings();
    }
    if (videoSource.isEmpty()) {
        // The device list always starts with the test source; no need to enumerate for it.
        videoSource = names::testSource;
        request.firstDevice = true;
    }
    request.source = videoSource;
    request.resolution = captureResolution;
    request.frameRate = captureFrameRate;
    sessionSource = videoSource;
    startPending = true;

    waitForWorkers(); // both have answered: these joins return at once
    startThread = std::thread(&KorvanePlugin::startCaptureWorker, this, std::move(request));
}

void KorvanePlugin::startCaptureWorker(const CaptureRequest& request)
{
    auto* log = LoggingService::instance();
    auto refuse = [this] { QMetaObject::invokeMethod(this, &KorvanePlugin::onStartRefused, Qt::QueuedConnection); };

    if (running.load(std::memory_order_acquire)) {
        refuse();
        return;
    }
    if (request.firstDevice)
        QMetaObject::invokeMethod(this, &KorvanePlugin::onFirstDeviceChosen, Qt::QueuedConnection);
    const auto resolution = parseResolution(request.resolution);
    if (!resolution) {
        log->error(names::logSource, QStringLiteral("Invalid resolution format"));
        refuse();
        return;
    }
    const bool test = isTestSource(request.source);
    if (const auto error = captureLimitError(resolution->width, resolution->height, request.frameRate, test,
                                             kRingSlotBytes)) {
        log->error(names::logSource, *error);
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

    QMetaObject::invokeMethod(this, &KorvanePlugin::onSessionStarted, Qt::QueuedConnection);
}

void KorvanePlugin::requestStop()
{
    assertUserInterfaceThread();
    // One stop at a time: a second request while the first waits for a blocked grab
    // would only join it here.
    if (stopPending)
        return;
    stopPending = true;
    stopThread.stop(); // answered already: returns at once
    stopThread = std::thread(&KorvanePlugin::stopCaptureWorker, this);
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
    QMetaObject::invokeMethod(this, &KorvanePlugin::onSessionStopped, Qt::QueuedConnection);
}

void KorvanePlugin::applyVideoSource(const QString& source)
{
    assertUserInterfaceThread();
    if (source == videoSource)
        return;
    videoSource = source;
    showSource(source);
    if (startPending) {
        startQueued = true; // restarted on this source once the pending start has answered
        return;
    }
    if (stopPending)
        return; // a start queued behind the stop reads the new source
    if (running.load(std::memory_order_acquire))
        restartSession();
}

void KorvanePlugin::restartSession()
{
    // Stopped on the stop thread; the start, on the source the panel shows, follows its answer.
    showIdle();
    showStarting();
    startQueued = true;
    requestStop();
}

void KorvanePlugin::onStartRefused()
{
    startPending = false;
    showStartAnswered();
    takeUpQueuedStart();
}

void KorvanePlugin::onFirstDeviceChosen() { showSource(videoSource); }

void KorvanePlugin::onSessionStarted()
{
    startPending = false;
    if (!running.load(std::memory_order_acquire)) {
        // A stop ended the session before this arrived.
        showStartAnswered();
        takeUpQueuedStart();
        return;
    }
    // The panel may have moved on while the device opened (another device chosen, the
    // list refreshed): the session follows what the panel shows.
    const QString shown = panelSource();
    if (!shown.isEmpty() && shown != sessionSource)
        startQueued = true;
    showCapturing();
    takeUpQueuedStart();
}

void KorvanePlugin::onSessionStopped()
{
    stopPending = false;
    // A start that completed after the panel had been switched to stopped leaves the
    // panel showing a session this stop has ended. A start still pending answers itself.
    if (!running.load(std::memory_order_acquire) && !startPending && !startQueued) {
        showIdle();
        showStartAnswered(); // a start this stop cancelled left the button disabled
    }
    takeUpQueuedStart();
}

void KorvanePlugin::takeUpQueuedStart()
{
    if (!startQueued || startPending || stopPending || lifecycle != Lifecycle::Initialized)
        return;
    if (running.load(std::memory_order_acquire)) {
        const QString shown = panelSource();
        if (shown.isEmpty() || shown == sessionSource) {
            // Already running what was asked for.
            startQueued = false;
            showCapturing();
            return;
        }
        restartSession(); // running on another source than the panel shows
        return;
    }
    startQueued = false;
    startCaptureAsync();
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
    if (!stopPending) // a stop already switched the panel to idle
        showCapturing();
    fpsLastCount = std::uint64_t(count);
    fpsLastTime = now;
}

} // namespace Vardel
