#pragma once

// The capture engine: every thread of the plug-in and everything they share. The plug-in
// stands above it and talks to it on the user-interface thread only.
//
// Threads, and what orders them (there are no locks):
// - The user-interface thread calls start, stop, stopAndWait, isRunning and
//   takeWriteRate, and receives every answer: the threads below queue their answers onto
//   this object, and the signals are emitted from there, on the user-interface thread.
// - One session thread per session. It opens the device (or chooses the test pattern),
//   answers started or refused, runs the frame loop, and closes the device again: the
//   thread that opens a device is the one that grabs from it and releases it (a
//   DirectShow capture lives in the COM apartment of the thread that opened it).
// - A stop worker per stop. A stop clears running and the worker joins the session
//   thread, so the user-interface thread never waits for a device; the worker answers
//   stopped once the session thread has ended.
// - The user-interface thread writes running (true) and framesWritten (0) before it
//   creates the session thread, which orders them for it; afterwards running only ever
//   goes false (a stop, or the session ending by itself) and framesWritten only grows.
//   The session fields (testMode, captureWidth, captureHeight, sessionFrameRate) are
//   written by the session thread before it queues its answer, and read on the
//   user-interface thread only after that answer has arrived (Qt's event queue orders
//   them) or after the thread has been joined.
// - The capture object and the ring writer change only while no session thread and no
//   stop worker exist; the destructor ends both before the capture object goes.

#include "capture/capture_mode.h"
#include "capture/capture_request.h"
#include "capture/raii_thread.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace cv {
class VideoCapture;
}

namespace Vardel {

class VideoRingBufferWriter;

class CaptureEngine : public QObject {
    Q_OBJECT

public:
    CaptureEngine();
    ~CaptureEngine() override;

    // What a device offers, by index; called on the session thread before the device opens.
    using ModeReader = std::function<std::vector<CaptureMode>(int index)>;

    // Between sessions: the (unopened) capture object, or none, and how to learn what a
    // device offers; the ring the frames go to, borrowed, and its name for the log.
    void useCapture(std::unique_ptr<cv::VideoCapture> capture, ModeReader modes = {});
    void useRing(VideoRingBufferWriter* writer, const QString& name);

    // Starts a session; answered by started() or refused(). Only while idle: the plug-in
    // asks again once the previous request has been answered.
    void start(const CaptureRequest& request);
    // Ends the session, or the start under way (whose answer is then refused()), on a
    // worker; answered by stopped(), also when nothing ran.
    void stop();
    // Ends everything before returning, the device closed on its own thread; the answers
    // still queued are dropped, so the caller settles its own state.
    void stopAndWait();

    // A session has answered started and has not been stopped or ended since.
    bool isRunning() const { return phase == Phase::Running; }
    // The last session ended because the ring was gone: connect it again before a start.
    bool ringLost() const { return lost; }
    // The frames written per second since the last reading (or the start), once at least
    // half a second has passed in a running session.
    std::optional<double> takeWriteRate();

signals:
    void refused();
    void firstDeviceChosen();
    void started();
    void stopped(); // a stop done, or a session that ended by itself

private:
    enum class Phase { Idle, Starting, Running, Stopping };
    enum class LoopEnd { Stopped, RingGone };

    // Session thread.
    void runSession(const CaptureRequest& request);
    bool openVideoSource(const QString& source, int width, int height, int fps);
    LoopEnd captureLoop();
    LoopEnd testPatternLoop();
    void closeDevice();
    void answer(void (CaptureEngine::*onAnswer)());

    // Answers, on the user-interface thread.
    void onStarted();
    void onRefused();
    void onEnded();
    void onStopDone();

    VideoRingBufferWriter* ringWriter = nullptr;
    QString ringName;
    std::unique_ptr<cv::VideoCapture> videoCapture;
    ModeReader readModes;

    // The frame loop's fields, a cache line of their own.
    alignas(64) std::atomic<bool> running{false};
    bool testMode = false;
    std::uint32_t captureWidth = 0;
    std::uint32_t captureHeight = 0;
    std::atomic<int> framesWritten{0};
    int sessionFrameRate = 0;
    bool decodeJpeg = false; // the device's JPEG bytes come as they are, decoded into the slot

    // User-interface thread only.
    alignas(64) Phase phase = Phase::Idle;
    bool lost = false;
    std::int64_t fpsLastTime = 0;
    std::uint64_t fpsLastCount = 0;

    // Session thread only: the open hold-off.
    QString lastFailedSource;
    std::int64_t lastFailedTime = 0;

    // Last, so that they are joined before anything they use goes.
    RAIIThread sessionThread;
    RAIIThread stopThread;

    friend struct KorvanePluginProbe; // white-box access for the tests
};

} // namespace Vardel
