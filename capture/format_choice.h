#pragma once

// Which format to capture a device in, given what it offers at the size and rate the user
// chose. Pure: the caller reads the offers (platform::deviceModes) and applies the result.

#include "capture/capture_mode.h"

#include <cstdint>
#include <optional>
#include <span>

namespace Vardel {

struct FormatChoice {
    // What to set as CAP_PROP_FOURCC after the size and rate, or nothing when the back
    // end takes the chosen format by itself (or when there is nothing to choose).
    std::optional<std::uint32_t> fourcc;
    // The highest rate the format captured in names at that size; 0 when unknown. Below
    // the rate asked, the caller says so.
    double fps = 0;
    // False when no usable format is offered at that size: then nothing is chosen, and the
    // choice can be made again at the size the device settled on.
    bool sizeOffered = false;
};

// At width x height: among the usable formats that reach fps, an uncompressed one before
// JPEG, the back end's own order within each; when none reaches it, the one that comes
// closest. Where the offers at that size name no rate, only the size decides: the back
// end's own pick stays when it offers the size.
FormatChoice chooseFormat(std::span<const CaptureMode> offered, int width, int height, double fps,
                          const BackendFormats& backend);

} // namespace Vardel
