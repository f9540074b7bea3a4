#pragma once

// What a DirectShow video input device offers: the stream capabilities of its capture pin.
// Free of Qt and of the Windows headers, like the device walk, so that the same code
// builds with mingw-w64 and runs its tests under Wine.

#include "capture/capture_mode.h"

#include <vector>

struct IAMStreamConfig;

namespace Vardel::com {

struct EntryPoints;

// One mode per capability of config: the media subtype as OpenCV's CAP_PROP_FOURCC names
// it, the size of its format block (VIDEOINFOHEADER or VIDEOINFOHEADER2), and the rate of
// its shortest frame interval. Subtypes OpenCV cannot be told to use, and capabilities
// without a video format block, are left out. Every media type handed out is freed; config
// itself is not released.
std::vector<CaptureMode> streamModes(IAMStreamConfig& config);

// The modes of the capture pin of the device at index, counted as collectDeviceNames
// counts; empty when it cannot be asked. The calling thread's COM initialisation is
// undone again and every object released before returning.
std::vector<CaptureMode> deviceModes(int index);
std::vector<CaptureMode> deviceModes(const EntryPoints& com, int index);

// OpenCV 4.6's DirectShow back end: the subtypes it tries, in its order, at the size asked
// each time the size or rate changes, and what it makes of each.
const BackendFormats& openCvFormats();

} // namespace Vardel::com
