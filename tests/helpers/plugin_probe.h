#pragma once

// White-box access to the plug-in and its engine for tests and benchmarks (both befriend it).

#include "capture/steady_clock.h"
#include "plugin/korvane_plugin.h"

#include <QCoreApplication>
#include <QThread>

#include <opencv2/videoio.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>

namespace Vardel {

struct KorvanePluginProbe {
    // A session has started and not been stopped, as the user-interface thread knows it.
    static bool running(KorvanePlugin& p) { return p.engine.isRunning(); }
    static std::atomic<int>& framesWritten(KorvanePlugin& p) { return p.engine.framesWritten; }
    static bool testMode(KorvanePlugin& p) { return p.engine.testMode; }
    static int sessionFrameRate(KorvanePlugin& p) { return p.engine.sessionFrameRate; }
    static std::uint32_t captureWidth(KorvanePlugin& p) { return p.engine.captureWidth; }
    static std::uint32_t captureHeight(KorvanePlugin& p) { return p.engine.captureHeight; }
    static double currentFps(const KorvanePlugin& p) { return p.currentFps; }
    static std::int64_t& fpsLastTime(KorvanePlugin& p) { return p.engine.fpsLastTime; }
    static std::uint64_t& fpsLastCount(KorvanePlugin& p) { return p.engine.fpsLastCount; }
    static QString videoSource(const KorvanePlugin& p) { return p.videoSource; }
    static int captureFrameRate(const KorvanePlugin& p) { return p.captureFrameRate; }
    static QString captureResolution(const KorvanePlugin& p) { return p.captureResolution; }
    static std::int64_t& lastFailedTime(KorvanePlugin& p) { return p.engine.lastFailedTime; }
    static cv::VideoCapture* videoCapture(KorvanePlugin& p) { return p.engine.videoCapture.get(); }
    static bool hasTimer(const KorvanePlugin& p) { return p.fpsTimer != nullptr; }
    static VideoRingBufferWriter* ringWriter(KorvanePlugin& p) { return p.ringWriter.get(); }

    static bool openVideoSource(KorvanePlugin& p, const QString& source, int w, int h, int fps)
    {
        return p.engine.openVideoSource(source, w, h, fps);
    }
    static void updateFPS(KorvanePlugin& p) { p.updateFPS(); }
    // Until every request has been answered on this thread (an answer may take up a start
    // that was asked for meanwhile), or ten seconds have passed.
    static bool settle(KorvanePlugin& p)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            QCoreApplication::processEvents();
            if (!p.startPending && !p.stopPending)
                return true;
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            QThread::msleep(1);
        }
    }

    // Runs one of the frame loops on a thread of its own, as a session would, with the
    // given geometry; stopLoop() ends it. threadStartedNs, when given, receives the steady
    // clock at the start of the thread, just before the loop takes its own start time.
    static void startLoop(KorvanePlugin& p, bool testPattern, std::uint32_t width, std::uint32_t height, int fps,
                          std::atomic<std::int64_t>* threadStartedNs = nullptr)
    {
        CaptureEngine& e = p.engine;
        e.testMode = testPattern;
        e.captureWidth = width;
        e.captureHeight = height;
        e.sessionFrameRate = fps;
        e.framesWritten.store(0);
        e.running.store(true);
        e.sessionThread = std::thread([&e, testPattern, threadStartedNs] {
            if (threadStartedNs)
                threadStartedNs->store(steadyNowNs());
            testPattern ? e.testPatternLoop() : e.captureLoop();
        });
    }
    static void stopLoop(KorvanePlugin& p)
    {
        p.engine.running.store(false);
        p.engine.sessionThread.stop();
    }
};

} // namespace Vardel
