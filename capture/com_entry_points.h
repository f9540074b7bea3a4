#pragma once

// The COM calls that enter and leave an apartment and create the system device
// enumerator, as a table: the plug-in uses the system's, tests put counting or failing
// ones in front of them to reach every path of the device scan and the mode reading.

#include "capture/com_device_walk.h"
#include "capture/com_holders.h"

#include <objbase.h>

namespace Vardel::com {

struct EntryPoints {
    decltype(&::CoInitializeEx) initialize;
    decltype(&::CoCreateInstance) createInstance;
    decltype(&::CoUninitialize) uninitialize;
};

const EntryPoints& systemEntryPoints();

VideoInputScan scanVideoInputDevices(const EntryPoints& com);

// DirectShow's enumerator of the video input category, made through com in the calling
// thread's apartment; empty when the category is empty or cannot be listed.
ComPtr<IEnumMoniker> videoInputMonikers(const EntryPoints& com);

} // namespace Vardel::com
