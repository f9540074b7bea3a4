#pragma once

#include <QString>

namespace Vardel {

// What a start works with, taken on the user-interface thread when the start is asked
// for, so that the start thread reads neither the panel nor the settings fields.
struct CaptureRequest {
    QString source;
    QString resolution;
    int frameRate = 0;
    bool firstDevice = false; // no source was chosen: the first device entry was taken
};

} // namespace Vardel
