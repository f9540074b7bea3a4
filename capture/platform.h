#pragma once

// The few things the capture engine does differently per operating system. Each has one
// implementation file per platform, chosen by the build.

#include <QStringList>

#include <cstdint>
#include <memory>

namespace Vardel::platform {

// Device entries ("index: name") after the built-in test source, in ascending index.
QStringList videoDeviceEntries();

// The OpenCV back end that numbers devices the way videoDeviceEntries does.
int captureBackend();

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

} // namespace Vardel::platform
