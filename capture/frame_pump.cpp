// The frame thread: one of the two loops below runs per capture session, writing every
// frame straight into the ring slot it publishes. Nothing on the per-frame path
// allocates, locks, logs or formats text (the exceptions are the single lines about a
// device that delivers frames of the wrong size, whose back end throws, that stops
// delivering and that delivers again).

#include "capture/capture_engine.h"

#include "capture/capture_names.h"
#include "capture/delivery_watch.h"
#include "capture/device_frames.h"
#include "capture/frame_header.h"
#include "capture/pacing.h"
#include "capture/platform.h"
#include "capture/steady_clock.h"
#include "capture/test_pattern.h"
#include "host/logging_service.h"
#include "host/ring/video_ring_buffer_writer.h"

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <chrono>
#include <exception>
#include <thread>
#include <xmmintrin.h>

namespace Vardel {

namespace {
// The device decodes into the slot from its start: have those lines ready.
void prefetchSlotStart(const std::uint8_t* data)
{
    for (int line = 0; line < 3; ++line)
        _mm_prefetch(reinterpret_cast<const char*>(data + 64 * line), _MM_HINT_T0);
}
} // namespace

CaptureEngine::LoopEnd CaptureEngine::captureLoop()
{
    platform::prepareFrameThread();
    const std::uint32_t width = captureWidth;
    const std::uint32_t height = captureHeight;
    FrameSlot header = bgrFrameHeader(width, height);
    DeviceFrames frames(*videoCapture, int(width), int(height), decodeJpeg);
    bool backEndErrorReported = false;
    DeliveryWatch delivery(steadyNowNs());
    bool stallReported = false;
    platform::GrabTimer grabTimer;
    if (const auto deadline = delivery.grabDeadline(steadyNowNs()))
        grabTimer.interruptAt(*deadline);

    // running is only polled: it goes false once, and the stopping thread joins this one.
    while (running.load(std::memory_order_relaxed)) {
        const auto slot = ringWriter->acquireWriteSlot();
        if (!slot)
            return LoopEnd::RingGone;
        prefetchSlotStart(slot->data);
        auto outcome = DeviceFrames::Outcome::NoFrame;
        bool threw = false;
        try {
            outcome = frames.read(slot->data);
        } catch (const std::exception& error) {
            threw = true;
            // A back end that throws (a conversion it cannot do, a device gone mid-frame)
            // must not take the host down with this thread: the frame is dropped like a
            // failed grab, and the slot may hold part of it, so it is cancelled below.
            if (!backEndErrorReported) {
                backEndErrorReported = true;
                LoggingService::instance()->warning(
                    names::logSource, QStringLiteral("Device failed to deliver a frame: %1; dropping its frames")
                                          .arg(QString::fromUtf8(error.what()).trimmed()));
            }
        }
        const std::int64_t now = steadyNowNs();
        if (outcome == DeviceFrames::Outcome::Read) {
            header.timestampNs = now;
            ringWriter->releaseWriteSlot(slot->slotIndex, header);
            ringWriter->signalAllFrameEvents();
            framesWritten.fetch_add(1, std::memory_order_relaxed);
        } else {
            ringWriter->cancelWrite(slot->slotIndex);
        }
        const bool delivered = outcome != DeviceFrames::Outcome::NoFrame; // usable or not
        const auto change = delivered ? delivery.frameRead(now) : delivery.grabFailed(now);
        // The session goes on: a device that comes back (a stalled one resumes) is published
        // again without the user doing anything. A back end that throws has said so already.
        if (change == DeliveryWatch::Change::Stopped && !threw) {
            stallReported = true;
            LoggingService::instance()->warning(names::logSource,
                                                QStringLiteral("Device stopped delivering frames; retrying"));
        } else if (change == DeliveryWatch::Change::Resumed && stallReported) {
            stallReported = false;
            LoggingService::instance()->info(names::logSource, QStringLiteral("Device delivers frames again"));
        }
        if (const auto deadline = delivery.grabDeadline(now))
            grabTimer.interruptAt(*deadline);
        if (!delivered && delivery.pauseBeforeRetry())
            std::this_thread::sleep_for(std::chrono::nanoseconds(DeliveryWatch::kRetryPauseNs));
    }
    return LoopEnd::Stopped;
}

CaptureEngine::LoopEnd CaptureEngine::testPatternLoop()
{
    platform::prepareFrameThread();
    const std::uint32_t width = captureWidth;
    const std::uint32_t height = captureHeight;
    FrameSlot header = bgrFrameHeader(width, height);
    TestPatternPainter painter(width, height);
    platform::FrameWaiter waiter;
    FrameSchedule schedule{1'000'000'000 / sessionFrameRate, steadyNowNs()};
    std::uint32_t n = 0;

    while (running.load(std::memory_order_relaxed)) {
        const auto slot = ringWriter->acquireWriteSlot();
        if (!slot)
            return LoopEnd::RingGone;
        painter.draw(slot->data, n);
        header.timestampNs = steadyNowNs();
        ringWriter->releaseWriteSlot(slot->slotIndex, header);
        ringWriter->signalAllFrameEvents();
        framesWritten.fetch_add(1, std::memory_order_relaxed);
        ++n;
        std::int64_t wakeAt = 0;
        if (schedule.next(steadyNowNs(), wakeAt))
            waiter.waitUntil(wakeAt);
    }
    return LoopEnd::Stopped;
}

} // namespace Vardel
