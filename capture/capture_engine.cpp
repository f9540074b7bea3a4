// The engine's requests and answers on the user-interface thread. What the threads share,
// and what orders it, is stated once in capture_engine.h.

#include "capture/capture_engine.h"

#include "capture/capture_names.h"
#include "capture/steady_clock.h"
#include "capture/write_rate.h"
#include "host/logging_service.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>

#include <opencv2/videoio.hpp>

#include <system_error>

namespace Vardel {

CaptureEngine::CaptureEngine() = default;

CaptureEngine::~CaptureEngine() { stopAndWait(); }

void CaptureEngine::useCapture(std::unique_ptr<cv::VideoCapture> capture, ModeReader modes)
{
    Q_ASSERT(phase == Phase::Idle);
    videoCapture = std::move(capture);
    readModes = std::move(modes);
}

void CaptureEngine::useRing(VideoRingBufferWriter* writer, const QString& name)
{
    Q_ASSERT(phase == Phase::Idle);
    ringWriter = writer;
    ringName = name;
    lost = false;
}

void CaptureEngine::answer(void (CaptureEngine::*onAnswer)())
{
    QMetaObject::invokeMethod(this, onAnswer, Qt::QueuedConnection);
}

void CaptureEngine::start(const CaptureRequest& request)
{
    if (phase != Phase::Idle) {
        // The plug-in never asks while a request is under way; should it, the answer says no.
        answer(&CaptureEngine::refused);
        return;
    }
    sessionThread.stop(); // a session that ended by itself: its thread has finished already
    if (request.firstDevice)
        answer(&CaptureEngine::firstDeviceChosen);
    // Relaxed: creating the thread orders these writes for it.
    running.store(true, std::memory_order_relaxed);
    framesWritten.store(0, std::memory_order_relaxed);
    phase = Phase::Starting;
    try {
        sessionThread = std::thread(&CaptureEngine::runSession, this, request);
    } catch (const std::system_error& error) {
        running.store(false, std::memory_order_relaxed);
        phase = Phase::Idle;
        LoggingService::instance()->error(
            names::logSource,
            QStringLiteral("Cannot start capture: no thread for the session (%1)").arg(QString::fromLocal8Bit(error.what())));
        answer(&CaptureEngine::onRefused);
    }
}

void CaptureEngine::stop()
{
    if (phase == Phase::Stopping)
        return; // one stop at a time: its answer covers this request too
    // A session still opening its device sees this after the open and never starts.
    running.store(false, std::memory_order_relaxed);
    phase = Phase::Stopping;
    stopThread.stop(); // answered already: returns at once
    const auto stopSession = [this] {
        sessionThread.stop();
        LoggingService::instance()->info(names::logSource, QStringLiteral("Capture stopped"));
        answer(&CaptureEngine::onStopDone);
    };
    try {
        stopThread = std::thread(stopSession);
    } catch (const std::system_error& error) {
        // Better a wait for the device here than a session that never ends.
        LoggingService::instance()->warning(
            names::logSource,
            QStringLiteral("No thread for the stop (%1); stopping on this one").arg(QString::fromLocal8Bit(error.what())));
        stopSession();
    }
}

void CaptureEngine::stopAndWait()
{
    running.store(false, std::memory_order_relaxed);
    stopThread.stop();
    sessionThread.stop();
    // Nothing can queue an answer any more; the ones queued describe what has just ended.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    phase = Phase::Idle;
}

std::optional<double> CaptureEngine::takeWriteRate()
{
    if (phase != Phase::Running)
        return std::nullopt;
    const std::int64_t now = steadyNowNs();
    const std::int64_t elapsed = now - fpsLastTime;
    if (elapsed < kMinRateIntervalNs)
        return std::nullopt;
    const std::int64_t count = framesWritten.load(std::memory_order_relaxed);
    // The counter wraps after 2^31 frames (about a hundred days at 240 frames per second);
    // the difference of the low 32 bits stays right across the wrap.
    const double rate = writeRate(std::uint32_t(count) - std::uint32_t(fpsLastCount), elapsed);
    fpsLastCount = std::uint64_t(count);
    fpsLastTime = now;
    return rate;
}

void CaptureEngine::onStarted()
{
    if (phase == Phase::Starting) {
        phase = Phase::Running;
        // The rate counts from here: the frames written since, over the time since.
        fpsLastTime = steadyNowNs();
        fpsLastCount = std::uint64_t(std::int64_t(framesWritten.load(std::memory_order_relaxed)));
    }
    emit started(); // after a stop too: the plug-in then finds the engine not running
}

void CaptureEngine::onRefused()
{
    if (phase == Phase::Starting) {
        phase = Phase::Idle;
        sessionThread.stop(); // its answer was its last act
    }
    emit refused();
}

void CaptureEngine::onEnded()
{
    lost = true;
    if (phase != Phase::Running)
        return; // a stop under way answers for it
    phase = Phase::Idle;
    sessionThread.stop(); // its answer was its last act
    emit stopped();
}

void CaptureEngine::onStopDone()
{
    phase = Phase::Idle;
    stopThread.stop(); // its answer was its last act
    emit stopped();
}

} // namespace Vardel
