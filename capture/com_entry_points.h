#pragma once

// The COM calls that enter and leave an apartment and create the system device
// enumerator, as a table: the plug-in uses the system's, tests put counting or failing
// ones in front of them to reach every path of the device scan.

#include "capture/com_device_walk.h"

#include <objbase.h>

namespace Vardel::com {

struct EntryPoints {
    decltype(&::CoInitializeEx) initialize;
    decltype(&::CoCreateInstance) createInstance;
    decltype(&::CoUninitialize) uninitialize;
};

const EntryPoints& systemEntryPoints();

VideoInputScan scanVideoInputDevices(const EntryPoints& com);

} // namespace Vardel::com
