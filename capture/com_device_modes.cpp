// The formats, sizes and rates of a DirectShow capture pin, read through COM.

#include "capture/com_device_modes.h"

#include "capture/com_entry_points.h"
#include "capture/com_holders.h"

#include <dshow.h>
#include <dvdmedia.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace Vardel::com {

namespace {

// Frees what GetStreamCaps hands over, as DeleteMediaType does: the format block, the
// object the type may hold, the type itself.
struct MediaTypeDeleter {
    void operator()(AM_MEDIA_TYPE* type) const
    {
        if (type->cbFormat != 0)
            CoTaskMemFree(type->pbFormat);
        if (type->pUnk)
            type->pUnk->Release();
        CoTaskMemFree(type);
    }
};
using MediaType = std::unique_ptr<AM_MEDIA_TYPE, MediaTypeDeleter>;

// OpenCV finds the subtype to use by comparing CAP_PROP_FOURCC with the first 32 bits of
// each subtype it knows: the FOURCC of those made from one, a number of its own for the
// four RGB ones. Others it cannot be told.
std::optional<std::uint32_t> openCvCode(const GUID& subtype)
{
    static constexpr unsigned char fourccTail[8] = {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};
    const bool fromFourcc =
        subtype.Data2 == 0x0000 && subtype.Data3 == 0x0010 && std::memcmp(subtype.Data4, fourccTail, 8) == 0;
    if (fromFourcc || subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_RGB32 || subtype == MEDIASUBTYPE_RGB555
        || subtype == MEDIASUBTYPE_RGB565)
        return std::uint32_t(subtype.Data1);
    return std::nullopt;
}

// The frame size of a video format block, checked against the block's length first.
const BITMAPINFOHEADER* bitmapOf(const AM_MEDIA_TYPE& type)
{
    if (!type.pbFormat)
        return nullptr;
    if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER))
        return &reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
    if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2))
        return &reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader;
    return nullptr;
}

// The output pin whose category is capture, as its stream configuration.
ComPtr<IAMStreamConfig> captureStreamConfig(IBaseFilter& filter)
{
    ComPtr<IAMStreamConfig> config;
    ComPtr<IEnumPins> pins;
    if (FAILED(filter.EnumPins(pins.put())) || !pins)
        return config;
    for (;;) {
        ComPtr<IPin> pin;
        if (pins->Next(1, pin.put(), nullptr) != S_OK)
            return config;
        PIN_DIRECTION direction;
        ComPtr<IKsPropertySet> properties;
        if (!pin || FAILED(pin->QueryDirection(&direction)) || direction != PINDIR_OUTPUT
            || FAILED(pin->QueryInterface(IID_IKsPropertySet, properties.putVoid())) || !properties)
            continue;
        GUID category{};
        DWORD returned = 0;
        if (properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof category,
                            &returned)
                == S_OK
            && returned == sizeof category && category == PIN_CATEGORY_CAPTURE
            && SUCCEEDED(pin->QueryInterface(IID_IAMStreamConfig, config.putVoid())) && config)
            return config;
    }
}

// The filter of the moniker at index, every moniker counting as in collectDeviceNames.
ComPtr<IBaseFilter> deviceFilter(IEnumMoniker& monikers, int index)
{
    ComPtr<IBaseFilter> filter;
    for (int at = 0; at <= index; ++at) {
        ComPtr<IMoniker> moniker;
        if (monikers.Next(1, moniker.put(), nullptr) != S_OK)
            break;
        if (at == index && moniker)
            moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.putVoid());
    }
    return filter;
}

const EntryPoints& systemCalls()
{
    static const EntryPoints system{&::CoInitializeEx, &::CoCreateInstance, &::CoUninitialize};
    return system;
}

constexpr auto D = Delivery::Converted, J = Delivery::Decoded, U = Delivery::Unusable;
constexpr std::uint32_t kRgb24 = 0xe436eb7d, kRgb32 = 0xe436eb7e, kRgb555 = 0xe436eb7c, kRgb565 = 0xe436eb7b;

// videoInput's mediaSubtypes in OpenCV 4.6, the order setup tries them in at the size
// asked. The grey ones arrive as one channel, not BGR.
constexpr BackendFormat kOpenCvOrder[] = {
    {kRgb24, D},                   {kRgb32, D},                   {kRgb555, D},                  {kRgb565, D},
    {fourcc('Y', 'U', 'Y', '2'), D}, {fourcc('Y', 'V', 'Y', 'U'), D}, {fourcc('Y', 'U', 'Y', 'V'), D},
    {fourcc('I', 'Y', 'U', 'V'), D}, {fourcc('U', 'Y', 'V', 'Y'), D}, {fourcc('Y', 'V', '1', '2'), D},
    {fourcc('Y', 'V', 'U', '9'), D}, {fourcc('Y', '4', '1', '1'), D}, {fourcc('Y', '4', '1', 'P'), D},
    {fourcc('Y', '2', '1', '1'), D}, {fourcc('A', 'Y', 'U', 'V'), D}, {fourcc('M', 'J', 'P', 'G'), J},
    {fourcc('Y', '8', '0', '0'), U}, {fourcc('Y', '8', ' ', ' '), U}, {fourcc('G', 'R', 'E', 'Y'), U},
    {fourcc('I', '4', '2', '0'), D}, {fourcc('B', 'Y', '8', ' '), U}, {fourcc('Y', '1', '6', ' '), U},
};

} // namespace

std::vector<CaptureMode> streamModes(IAMStreamConfig& config)
{
    std::vector<CaptureMode> modes;
    int count = 0, size = 0;
    if (FAILED(config.GetNumberOfCapabilities(&count, &size)) || size != int(sizeof(VIDEO_STREAM_CONFIG_CAPS)))
        return modes;
    for (int index = 0; index < count; ++index) {
        AM_MEDIA_TYPE* handed = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps{};
        const HRESULT answer = config.GetStreamCaps(index, &handed, reinterpret_cast<BYTE*>(&caps));
        const MediaType type(handed); // freed also when the call failed after filling it
        if (answer != S_OK || !type || type->majortype != MEDIATYPE_Video)
            continue;
        const auto code = openCvCode(type->subtype);
        const BITMAPINFOHEADER* bitmap = bitmapOf(*type);
        if (!code || !bitmap || bitmap->biWidth <= 0 || bitmap->biHeight == 0)
            continue;
        // Intervals count in 100 ns; a negative height only says the rows run top down.
        const double fps = caps.MinFrameInterval > 0 ? 1e7 / double(caps.MinFrameInterval) : 0.0;
        modes.push_back({*code, int(bitmap->biWidth), std::abs(int(bitmap->biHeight)), fps});
    }
    return modes;
}

std::vector<CaptureMode> deviceModes(int index) { return deviceModes(systemCalls(), index); }

std::vector<CaptureMode> deviceModes(const EntryPoints& com, int index)
{
    // A failure (typically a thread already in the multi-threaded apartment) entered
    // nothing and is answered with nothing, as the device list is.
    if (index < 0 || FAILED(com.initialize(nullptr, COINIT_APARTMENTTHREADED)))
        return {};
    const ApartmentGuard apartment(com.uninitialize);
    // Declared after the guard, so released before the apartment is left.
    const ComPtr<IEnumMoniker> monikers = videoInputMonikers(com);
    if (!monikers)
        return {};
    const ComPtr<IBaseFilter> filter = deviceFilter(*monikers, index);
    if (!filter)
        return {};
    const ComPtr<IAMStreamConfig> config = captureStreamConfig(*filter);
    return config ? streamModes(*config) : std::vector<CaptureMode>{};
}

const BackendFormats& openCvFormats()
{
    static const BackendFormats formats{kOpenCvOrder, false};
    return formats;
}

} // namespace Vardel::com
