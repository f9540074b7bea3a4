#pragma once

// What a V4L2 capture node offers: its pixel formats, the frame sizes of each and the
// shortest frame interval at each size. Qt-free, beside the device scan.

#include "capture/capture_mode.h"

#include <functional>
#include <string>
#include <vector>

namespace Vardel::v4l2 {

// One ioctl on an open node: 0, or the errno it failed with.
using Ioctl = std::function<int(unsigned long request, void* argument)>;

// Every format, size and best rate the node names through ioctl (VIDIOC_ENUM_FMT,
// VIDIOC_ENUM_FRAMESIZES, VIDIOC_ENUM_FRAMEINTERVALS), in the order it lists them. A
// size range is listed at the common sizes on its steps and at its largest; a size whose
// intervals cannot be asked has rate 0.
std::vector<CaptureMode> modesOf(const Ioctl& ioctl);

// Opens the node, asks it and closes it again; empty when it cannot be opened or names
// no format.
std::vector<CaptureMode> deviceModes(const std::string& path);

// OpenCV 4.6's V4L2 back end: the formats it tries at open, in its order, the first the
// driver takes kept through later size changes, and what it makes of each.
const BackendFormats& openCvFormats();

} // namespace Vardel::v4l2
