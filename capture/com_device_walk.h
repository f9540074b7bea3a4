#pragma once

// The Windows device list through COM and DirectShow's system device enumerator. Free of
// Qt and of the Windows headers, so that the plug-in's wrapper only formats and logs, and
// the same code builds with mingw-w64 and runs its tests under Wine.

#include <optional>
#include <string>
#include <vector>

struct IEnumMoniker;

namespace Vardel::com {

struct DeviceName {
    int index = 0;     // the moniker's zero-based position in the enumeration
    std::wstring name; // "FriendlyName" as read, UTF-16, possibly empty

    friend bool operator==(const DeviceName&, const DeviceName&) = default;
};

// Walks enumerator to its end: one name per moniker whose friendly name could be read.
// Every moniker uses up an index, so indices rise but may have gaps. Does not release
// enumerator; null walks nothing.
std::vector<DeviceName> collectDeviceNames(IEnumMoniker* enumerator);

struct VideoInputScan {
    std::vector<DeviceName> devices;
    std::optional<std::string> error; // for the log; set only when COM could not be entered
};

// The video input devices, with the calling thread's COM initialisation undone again and
// every object released before returning.
VideoInputScan scanVideoInputDevices();

} // namespace Vardel::com
