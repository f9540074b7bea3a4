// Windows: DirectShow's video input devices, OpenCV's DirectShow back end, and the frame
// thread's set-up and waits. What these decide is in the Qt-free com_device_walk.cpp,
// com_device_modes.cpp, win32_frame_thread.cpp and win32_frame_timer.cpp (tested under
// Wine); this file only converts their results to Qt's types and logs.

#include "capture/platform.h"

#include "capture/com_device_modes.h"
#include "capture/com_device_walk.h"
#include "capture/win32_frame_thread.h"
#include "capture/win32_frame_timer.h"
#include "host/logging_service.h"
#include "capture/capture_names.h"

#include <opencv2/videoio.hpp>

namespace Vardel::platform {

QStringList videoDeviceEntries()
{
    const com::VideoInputScan scan = com::scanVideoInputDevices();
    if (scan.error)
        LoggingService::instance()->error(names::logSource, QString::fromStdString(*scan.error));
    QStringList entries;
    entries.reserve(qsizetype(scan.entries.size()));
    for (const std::wstring& entry : scan.entries)
        entries.append(QString::fromStdWString(entry));
    return entries;
}

int captureBackend() { return cv::CAP_DSHOW; }

// DirectShow's graph decodes JPEG itself; the six calls keep it converting to BGR.
bool backendHandsOutJpeg() { return false; }

std::vector<CaptureMode> deviceModes(int index) { return com::deviceModes(index); }

const BackendFormats& backendFormats() { return com::openCvFormats(); }

void prepareFrameThread() { win32::prepareFrameThread(); }

struct FrameWaiter::Timer : win32::FrameTimer {};

FrameWaiter::FrameWaiter() : timer_(std::make_unique<Timer>()) {}
FrameWaiter::~FrameWaiter() = default;

void FrameWaiter::waitUntil(std::int64_t deadlineNs) { timer_->waitUntil(deadlineNs); }

// DirectShow's retrieve gives up after a second on its own: nothing to cut short.
struct GrabTimer::Timer {};

GrabTimer::GrabTimer() = default;
GrabTimer::~GrabTimer() = default;

void GrabTimer::interruptAt(std::int64_t) {}

} // namespace Vardel::platform
