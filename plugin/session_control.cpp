// Session control: the panel's and the host's requests turned into the engine's, on the
// user-interface thread. The engine takes one request at a time; while a start or a stop
// has not been answered, a new start is queued and taken up with the answer, so this
// thread never waits for a device to open or for a frame thread stuck in a blocked grab.
// The session always ends up on what the panel shows.

#include "plugin/korvane_plugin.h"

#include "capture/capture_names.h"
#include "capture/replug_match.h"
#include "capture/start_parameters.h"
#include "host/logging_service.h"

namespace Vardel {

namespace {
bool sameSession(const CaptureRequest& a, const CaptureRequest& b)
{
    return a.source == b.source && a.resolution == b.resolution && a.frameRate == b.frameRate;
}
} // namespace

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

void KorvanePlugin::onCaptureFrameRateChanged(int fps)
{
    // Applies to the next start (a start still under way included); a running capture keeps its rate.
    captureFrameRate = fps;
    saveSettings();
}

void KorvanePlugin::onCaptureResolutionChanged(const QString& resolution)
{
    captureResolution = resolution;
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

CaptureRequest KorvanePlugin::wantedRequest() const
{
    const QString shown = panelSource();
    return CaptureRequest{shown.isEmpty() ? videoSource : shown, captureResolution, captureFrameRate};
}

void KorvanePlugin::startCaptureAsync()
{
    assertUserInterfaceThread();
    // A request that has not been answered may be a device opening, or a stop waiting for
    // a frame thread stuck in a grab, for seconds: the start is taken up with the answer.
    if (startPending || stopPending) {
        startQueued = true;
        showStarting();
        return;
    }
    if (engine.isRunning())
        return showStartAnswered(); // nothing to start, no answer to come: the button must not stay disabled
    if (lifecycle == Lifecycle::Initialized && engine.ringLost())
        connectRing(); // the last session lost the ring: a new region for this one
    if (const auto reason = unavailableReason()) {
        LoggingService::instance()->error(names::logSource, *reason);
        showStartAnswered();
        return;
    }
    showStarting();

    if (widget.isNull() && !videoSource.isEmpty() && !isTestSource(videoSource))
        followMovedSource(enumerateVideoDevices()); // no panel has listed the devices
    CaptureRequest request = wantedRequest();
    if (request.source != videoSource) {
        videoSource = request.source;
        saveSettings();
    }
    if (videoSource.isEmpty()) {
        // The device list always starts with the test source; no need to enumerate for it.
        videoSource = request.source = names::testSource;
        request.firstDevice = true;
    }
    sessionRequest = request;
    startPending = true;
    engine.start(request);
}

void KorvanePlugin::followMovedSource(const QStringList& listed)
{
    const auto moved = replugMatch(videoSource, listed);
    if (!moved)
        return;
    LoggingService::instance()->info(
        names::logSource, QStringLiteral("Source %1 is not listed any more; using %2, the device of that name")
                              .arg(videoSource, *moved));
    videoSource = *moved;
    saveSettings();
}

void KorvanePlugin::requestStop()
{
    assertUserInterfaceThread();
    // One stop at a time: its answer covers a second request as well.
    if (stopPending)
        return;
    stopPending = true;
    engine.stop();
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
    if (engine.isRunning())
        restartSession();
}

void KorvanePlugin::restartSession()
{
    // Stopped on the engine's worker; the start, on what the panel shows, follows its answer.
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
    if (!engine.isRunning()) {
        // A stop ended the session before this arrived.
        showStartAnswered();
        takeUpQueuedStart();
        return;
    }
    // The panel may have moved on while the device opened (another device, rate or size
    // chosen, the list refreshed): the session follows what the panel shows.
    if (!sameSession(wantedRequest(), sessionRequest))
        startQueued = true;
    showCapturing();
    takeUpQueuedStart();
}

void KorvanePlugin::onSessionStopped()
{
    stopPending = false;
    // A start that completed after the panel had been switched to stopped leaves the
    // panel showing a session this stop has ended, and a session that ended by itself
    // leaves it showing one that is gone. A start still pending answers itself.
    if (!startPending && !startQueued) {
        showIdle();
        showStartAnswered(); // a start this stop cancelled left the button disabled
    }
    takeUpQueuedStart();
}

void KorvanePlugin::takeUpQueuedStart()
{
    if (!startQueued || startPending || stopPending || lifecycle != Lifecycle::Initialized)
        return;
    if (engine.isRunning()) {
        if (sameSession(wantedRequest(), sessionRequest)) {
            startQueued = false; // already running what was asked for
            showCapturing();
            return;
        }
        restartSession();
        return;
    }
    startQueued = false;
    startCaptureAsync();
}

void KorvanePlugin::endSession()
{
    const bool underWay = engine.isRunning() || startPending || stopPending || startQueued;
    if (underWay)
        showIdle();
    // Its answers are dropped: nothing is pending from here on.
    engine.stopAndWait();
    startPending = stopPending = startQueued = false;
    if (underWay)
        showStartAnswered();
}

void KorvanePlugin::updateFPS()
{
    const auto rate = engine.takeWriteRate();
    if (!rate)
        return;
    currentFps = *rate;
    showCapturing(); // none while a stop is under way: the panel shows idle already
}

} // namespace Vardel
