#pragma once

// The few things the capture engine does differently per operating system. Each has one
// implementation file per platform, chosen by the build.

#include <QStringList>

namespace Vardel::platform {

// Device entries ("index: name") after the built-in test source, in ascending index.
QStringList videoDeviceEntries();

// The OpenCV back end that numbers devices the way videoDeviceEntries does.
int captureBackend();

// Names the calling thread as the frame thread, for debuggers and per-thread views, and
// raises its scheduling priority; best effort, failures ignored.
void raiseFrameThreadPriority();

} // namespace Vardel::platform
