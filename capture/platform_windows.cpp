// Windows: DirectShow's video input devices, OpenCV's DirectShow back end, and a frame
// thread at the highest normal priority. The COM work is in com_device_walk.cpp; this
// file only formats its results and logs.

#include "capture/platform.h"

#include "capture/com_device_walk.h"
#include "capture/win32_thread_priority.h"
#include "host/logging_service.h"
#include "plugin/korvane_plugin.h"
#include "plugin/plugin_names.h"

#include <opencv2/videoio.hpp>

#include <vector>

namespace Vardel {

namespace {

// "index: name", the name exactly as the device reports it (colons, blanks and all).
QStringList formatEntries(const std::vector<com::DeviceName>& devices)
{
    QStringList entries;
    entries.reserve(qsizetype(devices.size()));
    for (const com::DeviceName& device : devices)
        entries.append(QStringLiteral("%1: %2").arg(QString::number(device.index), QString::fromStdWString(device.name)));
    return entries;
}

} // namespace

QStringList KorvanePlugin::collectDeviceNames(IEnumMoniker* enumerator)
{
    return formatEntries(com::collectDeviceNames(enumerator));
}

namespace platform {

QStringList videoDeviceEntries()
{
    const com::VideoInputScan scan = com::scanVideoInputDevices();
    if (scan.error)
        LoggingService::instance()->error(names::logSource, QString::fromStdString(*scan.error));
    return formatEntries(scan.devices);
}

int captureBackend() { return cv::CAP_DSHOW; }

void raiseFrameThreadPriority() { win32::raiseCurrentThreadPriority(); }

} // namespace platform

} // namespace Vardel
