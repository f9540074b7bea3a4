// Linux: V4L2 device nodes, OpenCV's V4L2 back end, and a nicer frame thread.

#include "capture/platform.h"

#include "capture/pacing.h"
#include "capture/v4l2_device_modes.h"
#include "capture/v4l2_device_scan.h"

#include <opencv2/videoio.hpp>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace Vardel::platform {

QStringList videoDeviceEntries() { return v4l2::deviceEntries(QStringLiteral("/dev"), v4l2::queryNode); }

int captureBackend() { return cv::CAP_V4L2; }

std::vector<CaptureMode> deviceModes(int index) { return v4l2::deviceModes("/dev/video" + std::to_string(index)); }

const BackendFormats& backendFormats() { return v4l2::openCvFormats(); }

// OpenCV's V4L2 back end copies the buffer as the driver filled it (a row of bytes).
bool backendHandsOutJpeg() { return true; }

void prepareFrameThread()
{
    // At most 15 characters; top -H, ps and debuggers show it.
    (void)::pthread_setname_np(::pthread_self(), "korvane-frames");
    // Needs CAP_SYS_NICE (or a permissive RLIMIT_NICE); without it the thread keeps its priority.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), -5);
}

// A millisecond sleep here lasts what it asks for, so a wait ends at most a millisecond
// late (the sleep rounds up), and the schedule counts from the due time, not from the
// wake-up: nothing to hold for the session.
struct FrameWaiter::Timer {};

FrameWaiter::FrameWaiter() = default;
FrameWaiter::~FrameWaiter() = default;

void FrameWaiter::waitUntil(std::int64_t deadlineNs) { sleepUntilNs(deadlineNs); }

} // namespace Vardel::platform
