#pragma once

// The Windows device list through COM and DirectShow's system device enumerator. Free of
// Qt and of the Windows headers, so that the plug-in's wrapper only converts and logs,
// and the same code builds with mingw-w64 and runs its tests under Wine.

#include <optional>
#include <string>
#include <vector>

struct IEnumMoniker;

namespace Vardel::com {

struct DeviceName {
    int index = 0;     // the moniker's zero-based position in the enumeration
    std::wstring name; // "FriendlyName" as read, UTF-16, possibly empty
};

// Walks enumerator to its end: one name per moniker whose friendly name could be read.
// Every moniker uses up an index, so indices rise but may have gaps. Does not release
// enumerator; null walks nothing.
std::vector<DeviceName> collectDeviceNames(IEnumMoniker* enumerator);

// The source string of a device, "index: name", with the name exactly as read: colons,
// blanks and all, or nothing after the blank when it is empty.
std::wstring deviceEntry(const DeviceName& device);

struct VideoInputScan {
    std::vector<std::wstring> entries; // deviceEntry of each device, in ascending index
    std::optional<std::string> error;  // the log line; set only when COM could not be entered
};

// The video input devices, with the calling thread's COM initialisation undone again and
// every object released before returning.
VideoInputScan scanVideoInputDevices();

} // namespace Vardel::com
