#pragma once

// The few things the capture engine does differently per operating system. Each has one
// implementation file per platform, chosen by the build.

#include "capture/capture_mode.h"

#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

namespace Vardel::platform {

// Device entries ("index: name") after the built-in test source, in ascending index.
QStringList videoDeviceEntries();

// The OpenCV back end that numbers devices the way videoDeviceEntries does.
int captureBackend();

// What device index offers (formats, sizes, best rates), as its driver lists it; empty
// when it cannot be asked.
std::vector<CaptureMode> deviceModes(int index);

// Whether captureBackend hands out a JPEG frame's own bytes when CAP_PROP_CONVERT_RGB is
// off, for decoding straight into the ring slot.
bool backendHandsOutJpeg();

// How captureBackend picks a format by itself, and what it makes of each (for chooseFormat).
const BackendFormats& backendFormats();

// Names the calling thread as the frame thread, for debuggers and per-thread views, and
// raises its scheduling priority; best effort, failures ignored.
void prepareFrameThread();

// The test pattern's sleeps between frames, for one session: holds whatever the system
// needs for waits much shorter than a frame (at 240 frames/s one is 4.2 ms) until the
// session's frame thread lets it go.
class FrameWaiter {
public:
    FrameWaiter();
    ~FrameWaiter();
    FrameWaiter(const FrameWaiter&) = delete;
    FrameWaiter& operator=(const FrameWaiter&) = delete;

    // Returns once the steady clock has reached deadlineNs, never before.
    void waitUntil(std::int64_t deadlineNs);

private:
    struct Timer;
    std::unique_ptr<Timer> timer_;
};

// Cuts short a grab that waits for a device that has stopped delivering, on the thread
// that made it (the session thread). Some back ends wait long in a grab (OpenCV's V4L2
// back end up to its select() time-out, 10 s): a stall must be noticed, and a stop or
// the host's exit seen, within about a second. Where the back end's own waits are short
// (DirectShow's retrieve waits at most a second), it does nothing.
class GrabTimer {
public:
    GrabTimer();
    ~GrabTimer();
    GrabTimer(const GrabTimer&) = delete;
    GrabTimer& operator=(const GrabTimer&) = delete;

    // A grab still waiting at steady-clock time deadlineNs returns without a frame then;
    // replaces the deadline set before.
    void interruptAt(std::int64_t deadlineNs);

private:
    struct Timer;
    std::unique_ptr<Timer> timer_;
};

} // namespace Vardel::platform
