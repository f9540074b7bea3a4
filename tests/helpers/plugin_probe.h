#pragma once

// White-box access to the plug-in for tests and benchmarks (the plug-in befriends it).

#include "capture/capture_request.h"
#include "capture/steady_clock.h"
#include "plugin/korvane_plugin.h"

#include <QCoreApplication>

#include <opencv2/videoio.hpp>

#include <atomic>
#include <cstdint>

namespace Vardel {

struct KorvanePluginProbe {
    static std::atomic<bool>& running(KorvanePlugin& p) { return p.running; }
    static std::atomic<int>& framesWritten(KorvanePlugin& p) { return p.framesWritten; }
    static bool testMode(const KorvanePlugin& p) { return p.testMode; }
    static std::uint32_t captureWidth(const KorvanePlugin& p) { return p.captureWidth; }
    static std::uint32_t captureHeight(const KorvanePlugin& p) { return p.captureHeight; }
    static double currentFps(const KorvanePlugin& p) { return p.currentFps; }
    static std::int64_t& fpsLastTime(KorvanePlugin& p) { return p.fpsLastTime; }
    static std::uint64_t& fpsLastCount(KorvanePlugin& p) { return p.fpsLastCount; }
    static QString videoSource(const KorvanePlugin& p) { return p.videoSource; }
    static int captureFrameRate(const KorvanePlugin& p) { return p.captureFrameRate; }
    static QString captureResolution(const KorvanePlugin& p) { return p.captureResolution; }
    static std::int64_t& lastFailedTime(KorvanePlugin& p) { return p.lastFailedTime; }
    static cv::VideoCapture* videoCapture(KorvanePlugin& p) { return p.videoCapture.get(); }
    static bool hasTimer(const KorvanePlugin& p) { return p.fpsTimer != nullptr; }
    static VideoRingBufferWriter* ringWriter(KorvanePlugin& p) { return p.ringWriter.get(); }

    static bool openVideoSource(KorvanePlugin& p, const QString& source, int w, int h, int fps)
    {
        return p.openVideoSource(source, w, h, fps);
    }
    static void updateFPS(KorvanePlugin& p) { p.updateFPS(); }
    // Until every start asked for has been answered on this thread (an answer may take up
    // a start that was asked for while the previous one was under way).
    static void settle(KorvanePlugin& p)
    {
        do {
            p.waitForWorkers();
            QCoreApplication::processEvents();
        } while (p.startPending || p.stopPending);
    }

    // Runs one of the frame loops on a thread of its own, as a session would, with the
    // given geometry; stop() ends it. threadStartedNs, when given, receives the steady
    // clock at the start of the thread, just before the loop takes its own start time.
    static void startLoop(KorvanePlugin& p, bool testPattern, std::uint32_t width, std::uint32_t height, int fps,
                          std::atomic<std::int64_t>* threadStartedNs = nullptr)
    {
        p.captureWidth = width;
        p.captureHeight = height;
        p.sessionFrameRate = fps;
        p.framesWritten.store(0);
        p.running.store(true);
        const auto loop = testPattern ? &KorvanePlugin::testPatternLoop : &KorvanePlugin::captureLoop;
        p.frameThread = std::thread([&p, loop, threadStartedNs] {
            if (threadStartedNs)
                threadStartedNs->store(steadyNowNs());
            (p.*loop)();
        });
    }
    static void stopLoop(KorvanePlugin& p)
    {
        p.running.store(false);
        p.frameThread.stop();
    }
};

} // namespace Vardel
