// DirectShow's video input devices, listed through COM.

#include "capture/com_device_walk.h"

#include "capture/com_entry_points.h"
#include "capture/com_holders.h"

#include <dshow.h>

#include <charconv>
#include <cstdint>
#include <iterator>

namespace Vardel::com {

namespace {

// Initialised when made and cleared when it goes, whatever was put into it: a property
// bag may fill it and still report a failure.
class ScopedVariant {
public:
    ScopedVariant() { VariantInit(&value_); }
    ~ScopedVariant() { VariantClear(&value_); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;

    VARIANT* get() { return &value_; }
    const VARIANT* operator->() const { return &value_; }

private:
    VARIANT value_;
};

std::optional<std::wstring> friendlyName(IMoniker& moniker)
{
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker.BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid())) || !bag)
        return std::nullopt;
    // Declared after the bag, so it is cleared before the bag goes.
    ScopedVariant value;
    if (FAILED(bag->Read(L"FriendlyName", value.get(), nullptr)))
        return std::nullopt;
    // Devices report their name as a string. Any other type names nothing; reading it as
    // a string would follow whatever bits it holds.
    if (value->vt != VT_BSTR)
        return std::nullopt;
    return value->bstrVal ? std::wstring(value->bstrVal) : std::wstring();
}

std::string initializationFailure(HRESULT result)
{
    char digits[8];
    const auto end = std::to_chars(std::begin(digits), std::end(digits), static_cast<std::uint32_t>(result), 16).ptr;
    return "COM initialization failed. HRESULT: 0x" + std::string(digits, end);
}

} // namespace

std::vector<DeviceName> collectDeviceNames(IEnumMoniker* enumerator)
{
    std::vector<DeviceName> names;
    if (!enumerator)
        return names;
    // The index is the device number DirectShow opens, so every moniker uses one up, also
    // one that yields no name.
    for (int index = 0;; ++index) {
        ComPtr<IMoniker> moniker;
        ULONG fetched = 0;
        // Only S_OK hands over a moniker: S_FALSE is the end, any other answer ends it too.
        if (enumerator->Next(1, moniker.put(), &fetched) != S_OK)
            break;
        if (!moniker)
            continue;
        if (auto name = friendlyName(*moniker))
            names.push_back({index, std::move(*name)});
    }
    return names;
}

std::wstring deviceEntry(const DeviceName& device) { return std::to_wstring(device.index) + L": " + device.name; }

const EntryPoints& systemEntryPoints()
{
    static const EntryPoints system{&::CoInitializeEx, &::CoCreateInstance, &::CoUninitialize};
    return system;
}

VideoInputScan scanVideoInputDevices() { return scanVideoInputDevices(systemEntryPoints()); }

VideoInputScan scanVideoInputDevices(const EntryPoints& com)
{
    VideoInputScan scan;
    const HRESULT entered = com.initialize(nullptr, COINIT_APARTMENTTHREADED);
    // A failure (typically a thread already in the multi-threaded apartment) changed
    // nothing, so there is nothing to undo. S_FALSE, a thread already in a single-threaded
    // apartment, counts once more and is undone like S_OK.
    if (FAILED(entered)) {
        scan.error = initializationFailure(entered);
        return scan;
    }
    const ApartmentGuard apartment(com.uninitialize);

    // Declared after the guard, so released before the apartment is left.
    const ComPtr<IEnumMoniker> monikers = videoInputMonikers(com);
    for (const DeviceName& device : collectDeviceNames(monikers.get()))
        scan.entries.push_back(deviceEntry(device));
    return scan;
}

ComPtr<IEnumMoniker> videoInputMonikers(const EntryPoints& com)
{
    ComPtr<IEnumMoniker> monikers;
    HRESULT listed = E_FAIL;
    {
        ComPtr<ICreateDevEnum> systemDevices;
        if (FAILED(com.createInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                      systemDevices.putVoid()))
            || !systemDevices)
            return monikers;
        listed = systemDevices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.put(), 0);
    } // the system enumerator goes here, whatever it answered

    // S_FALSE: the category is empty or absent. An enumerator handed over all the same is
    // released here.
    if (listed != S_OK)
        monikers.reset();
    return monikers;
}

} // namespace Vardel::com
