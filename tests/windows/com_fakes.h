#pragma once

// Hand-written COM objects standing in for DirectShow's devices: devices (each its own
// moniker and property bag, bound to a filter), a moniker enumerator, the system device
// enumerator, filters and their pins with stream capabilities. Each counts its references
// and never deletes itself: the test owns it and checks that every reference handed out
// came back. TaskMemory watches the task allocator, where BSTRs and media types live, so
// that a test sees everything handed out freed again.

#include "capture/com_entry_points.h"

#include <dshow.h>
#include <dvdmedia.h>
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <deque>
#include <string>
#include <vector>

namespace fakes {

#define FAKES_UNKNOWN(count)                                                                                           \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { return *out = nullptr, E_NOINTERFACE; }    \
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++count); }                                               \
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--count); }
#define FAKES_NOT_ASKED(method, ...)                                                                                   \
    HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { return E_NOTIMPL; }

// Counts references only; signed, so that a release too many shows as 0 or less.
template <typename Interface>
struct Counted : Interface {
    long references = 1; // the test's own
    FAKES_UNKNOWN(references)
};

// A device moniker that binds to itself as its property bag, and what that bag answers
// when asked for "FriendlyName".
struct Device : IMoniker, IPropertyBag {
    enum class Answer { Text, NullText, Object, Fails, FailsAfterFilling, Unbindable };
    Answer answer;
    std::wstring text;
    IBaseFilter* filter; // what the moniker binds to, when not null
    long references = 1;
    Counted<IUnknown> object; // what the VARIANT holds for Answer::Object
    Device(Answer a, std::wstring t, IBaseFilter* f = nullptr) : answer(a), text(std::move(t)), filter(f) {}

    FAKES_UNKNOWN(references)
    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx*, IMoniker*, REFIID iid, void** out) override
    {
        *out = iid == IID_IPropertyBag && answer != Answer::Unbindable ? static_cast<IPropertyBag*>(this) : nullptr;
        return *out ? (AddRef(), S_OK) : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override
    {
        // A VARIANT that was not initialised would be taken for one holding something.
        if (std::wcscmp(name, L"FriendlyName") != 0 || value->vt != VT_EMPTY || answer == Answer::Fails)
            return E_FAIL;
        if (answer == Answer::Object)
            return value->vt = VT_UNKNOWN, value->punkVal = &object, object.AddRef(), S_OK;
        value->vt = VT_BSTR;
        value->bstrVal = answer == Answer::NullText ? nullptr : SysAllocString(text.c_str());
        return answer == Answer::FailsAfterFilling ? E_FAIL : S_OK;
    }
    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx*, IMoniker*, REFIID iid, void** out) override
    {
        *out = iid == IID_IBaseFilter ? filter : nullptr;
        return *out ? (filter->AddRef(), S_OK) : E_FAIL;
    }
    // Nothing else is asked of a device.
    FAKES_NOT_ASKED(Write, LPCOLESTR, VARIANT*) FAKES_NOT_ASKED(GetClassID, CLSID*) FAKES_NOT_ASKED(IsDirty)
    FAKES_NOT_ASKED(Load, IStream*) FAKES_NOT_ASKED(Save, IStream*, WINBOOL) FAKES_NOT_ASKED(GetSizeMax, ULARGE_INTEGER*)
    FAKES_NOT_ASKED(Hash, DWORD*)
    FAKES_NOT_ASKED(Reduce, IBindCtx*, DWORD, IMoniker**, IMoniker**) FAKES_NOT_ASKED(Enum, WINBOOL, IEnumMoniker**)
    FAKES_NOT_ASKED(ComposeWith, IMoniker*, WINBOOL, IMoniker**) FAKES_NOT_ASKED(IsEqual, IMoniker*)
    FAKES_NOT_ASKED(IsRunning, IBindCtx*, IMoniker*, IMoniker*) FAKES_NOT_ASKED(Inverse, IMoniker**)
    FAKES_NOT_ASKED(GetTimeOfLastChange, IBindCtx*, IMoniker*, FILETIME*) FAKES_NOT_ASKED(IsSystemMoniker, DWORD*)
    FAKES_NOT_ASKED(CommonPrefixWith, IMoniker*, IMoniker**) FAKES_NOT_ASKED(RelativePathTo, IMoniker*, IMoniker**)
    FAKES_NOT_ASKED(GetDisplayName, IBindCtx*, IMoniker*, LPOLESTR*)
    FAKES_NOT_ASKED(ParseDisplayName, IBindCtx*, IMoniker*, LPOLESTR, ULONG*, IMoniker**)
};

// Devices behind one enumerator that answers Next with a scripted sequence of answers and
// monikers, then S_FALSE, then failures (so that a walk that misses the end still ends).
struct Devices : Counted<IEnumMoniker> {
    std::deque<Device> devices;
    using Step = std::pair<HRESULT, IMoniker*>; // the moniker is handed over with a new reference
    std::vector<Step> steps;
    std::size_t position = 0;

    void add(Device::Answer a, std::wstring t = {}, IBaseFilter* f = {}) { step(S_OK, &devices.emplace_back(a, t, f)); }
    void step(HRESULT answer, IMoniker* moniker) { steps.emplace_back(answer, moniker); }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker** out, ULONG* fetched) override
    {
        if (count != 1)
            return E_INVALIDARG;
        const HRESULT end = position == steps.size() ? S_FALSE : E_UNEXPECTED;
        const auto [answer, moniker] = position < steps.size() ? steps[position] : Step{end, nullptr};
        ++position;
        if ((*out = moniker))
            moniker->AddRef();
        if (fetched)
            *fetched = moniker ? 1 : 0;
        return answer;
    }
    FAKES_NOT_ASKED(Skip, ULONG) FAKES_NOT_ASKED(Reset) FAKES_NOT_ASKED(Clone, IEnumMoniker**)
};

// The system device enumerator: answers CreateClassEnumerator as it is told.
struct SystemDeviceEnum : Counted<ICreateDevEnum> {
    HRESULT answer = S_OK;
    Devices* enumerator = nullptr; // handed out from its start with a new reference when not null

    HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD flags) override
    {
        *out = nullptr;
        if (category != CLSID_VideoInputDeviceCategory || flags != 0)
            return E_INVALIDARG;
        if ((*out = enumerator))
            enumerator->position = 0, enumerator->AddRef();
        return answer;
    }
};

// One capability of a pin: a media type made anew in task memory for each GetStreamCaps,
// as drivers do, holding an object of the pin's, and the shortest frame interval.
struct StreamCap {
    GUID subtype, formatType; // FORMAT_VideoInfo or FORMAT_VideoInfo2
    LONG width, height;
    REFERENCE_TIME minInterval;
    ULONG formatBytes = 0;          // 0: the header formatType names
    bool failsAfterFilling = false;
};

// A pin of a filter, its category answered through IKsPropertySet, its capabilities
// through IAMStreamConfig.
struct Pin : IPin, IKsPropertySet, IAMStreamConfig {
    PIN_DIRECTION direction;
    GUID category;
    std::vector<StreamCap> caps;
    long references = 1;
    Counted<IUnknown> held; // what every media type handed out holds

    Pin(PIN_DIRECTION d, GUID c, std::vector<StreamCap> s) : direction(d), category(c), caps(std::move(s)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        using Self = void*;
        *out = iid == IID_IKsPropertySet ? Self(static_cast<IKsPropertySet*>(this))
            : iid == IID_IAMStreamConfig ? Self(static_cast<IAMStreamConfig*>(this))
            : iid == IID_IPin            ? Self(static_cast<IPin*>(this))
                                         : nullptr;
        return *out ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--references); }
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* out) override { return *out = direction, S_OK; }
    HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD bytes, DWORD* size) override
    {
        if (set != AMPROPSETID_Pin || id != AMPROPERTY_PIN_CATEGORY || bytes < sizeof(GUID))
            return E_PROP_ID_UNSUPPORTED;
        return *static_cast<GUID*>(data) = category, *size = sizeof(GUID), S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override
    {
        return *count = int(caps.size()), *size = sizeof(VIDEO_STREAM_CONFIG_CAPS), S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** out, BYTE* config) override
    {
        if (index < 0 || std::size_t(index) >= caps.size())
            return S_FALSE;
        const StreamCap& cap = caps[std::size_t(index)];
        const bool second = cap.formatType == FORMAT_VideoInfo2;
        constexpr std::size_t largest = sizeof(VIDEOINFOHEADER2);
        auto* block = static_cast<BYTE*>(std::memset(CoTaskMemAlloc(largest), 0, largest));
        BITMAPINFOHEADER& bitmap = second ? reinterpret_cast<VIDEOINFOHEADER2*>(block)->bmiHeader
                                          : reinterpret_cast<VIDEOINFOHEADER*>(block)->bmiHeader;
        bitmap.biWidth = cap.width, bitmap.biHeight = cap.height;
        const ULONG bytes = cap.formatBytes ? cap.formatBytes
                          : second          ? sizeof(VIDEOINFOHEADER2)
                                            : sizeof(VIDEOINFOHEADER);
        *out = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        **out = {MEDIATYPE_Video, cap.subtype, TRUE, FALSE, 0, cap.formatType, &held, bytes, block};
        held.AddRef();
        reinterpret_cast<VIDEO_STREAM_CONFIG_CAPS*>(config)->MinFrameInterval = cap.minInterval;
        return cap.failsAfterFilling ? E_FAIL : S_OK;
    }
    // Nothing else is asked of a pin.
    FAKES_NOT_ASKED(Connect, IPin*, const AM_MEDIA_TYPE*) FAKES_NOT_ASKED(Disconnect) FAKES_NOT_ASKED(EndOfStream)
    FAKES_NOT_ASKED(ReceiveConnection, IPin*, const AM_MEDIA_TYPE*) FAKES_NOT_ASKED(ConnectedTo, IPin**)
    FAKES_NOT_ASKED(ConnectionMediaType, AM_MEDIA_TYPE*) FAKES_NOT_ASKED(QueryPinInfo, PIN_INFO*) FAKES_NOT_ASKED(EndFlush)
    FAKES_NOT_ASKED(QueryAccept, const AM_MEDIA_TYPE*) FAKES_NOT_ASKED(EnumMediaTypes, IEnumMediaTypes**)
    FAKES_NOT_ASKED(QueryInternalConnections, IPin**, ULONG*) FAKES_NOT_ASKED(QueryId, LPWSTR*) FAKES_NOT_ASKED(BeginFlush)
    FAKES_NOT_ASKED(NewSegment, REFERENCE_TIME, REFERENCE_TIME, double) FAKES_NOT_ASKED(GetFormat, AM_MEDIA_TYPE**)
    FAKES_NOT_ASKED(Set, REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) FAKES_NOT_ASKED(SetFormat, AM_MEDIA_TYPE*)
    FAKES_NOT_ASKED(QuerySupported, REFGUID, DWORD, DWORD*)
};

// A device's filter, and the enumerator of its pins.
struct Filter : IBaseFilter, IEnumPins {
    std::vector<Pin*> pins;
    std::size_t position = 0;
    long references = 1;
    explicit Filter(std::vector<Pin*> pins) : pins(std::move(pins)) {}

    FAKES_UNKNOWN(references)
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** out) override { return position = 0, *out = this, AddRef(), S_OK; }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** out, ULONG* fetched) override
    {
        *out = count == 1 && position < pins.size() ? pins[position++] : nullptr;
        if (fetched)
            *fetched = *out ? 1 : 0;
        return *out ? ((*out)->AddRef(), S_OK) : S_FALSE;
    }
    // Nothing else is asked of a filter.
    FAKES_NOT_ASKED(GetClassID, CLSID*) FAKES_NOT_ASKED(Stop) FAKES_NOT_ASKED(Pause) FAKES_NOT_ASKED(Run, LONGLONG)
    FAKES_NOT_ASKED(GetState, DWORD, FILTER_STATE*) FAKES_NOT_ASKED(SetSyncSource, IReferenceClock*)
    FAKES_NOT_ASKED(GetSyncSource, IReferenceClock**) FAKES_NOT_ASKED(FindPin, LPCWSTR, IPin**)
    FAKES_NOT_ASKED(QueryFilterInfo, FILTER_INFO*) FAKES_NOT_ASKED(JoinFilterGraph, IFilterGraph*, LPCWSTR)
    FAKES_NOT_ASKED(QueryVendorInfo, LPWSTR*) FAKES_NOT_ASKED(Skip, ULONG) FAKES_NOT_ASKED(Reset)
    FAKES_NOT_ASKED(Clone, IEnumPins**)
};

// The task allocator's live blocks, seen through a malloc spy that changes nothing. BSTRs
// live there once oleaut32's string cache is off.
struct TaskMemory : IMallocSpy {
    long allocations = 0, live = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        *out = iid == IID_IMallocSpy || iid == IID_IUnknown ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; } // registered for the life of the process
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
    void* STDMETHODCALLTYPE PostAlloc(void* block) override { return allocations += !!block, live += !!block, block; }
    void* STDMETHODCALLTYPE PreFree(void* block, WINBOOL spied) override { return live -= block && spied, block; }
    // The rest passes everything through unchanged.
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** out, WINBOOL) override { return *out = block, size; }
    void* STDMETHODCALLTYPE PostRealloc(void* block, WINBOOL) override { return block; }
    void* STDMETHODCALLTYPE PreGetSize(void* block, WINBOOL) override { return block; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* block, WINBOOL) override { return block; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, WINBOOL) override { return size; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, WINBOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PostFree(WINBOOL) override {} void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

// Exported by oleaut32 but missing from the headers: freed BSTRs go back to the task
// allocator at once instead of into a cache, where they would look leaked.
extern "C" void WINAPI SetOaNoCache(void);

inline TaskMemory& taskMemory()
{
    static TaskMemory memory;
    static const bool watching = (SetOaNoCache(), CoRegisterMallocSpy(&memory) == S_OK);
    if (!watching)
        ADD_FAILURE() << "cannot watch the task allocator";
    return memory;
}

enum class Apartment { None, Single, Multi };

inline Apartment apartmentOfThisThread()
{
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    // A thread that never entered one only borrows the process's multi-threaded apartment.
    if (CoGetApartmentType(&type, &qualifier) != S_OK || qualifier == APTTYPEQUALIFIER_IMPLICIT_MTA)
        return Apartment::None;
    return type == APTTYPE_MTA ? Apartment::Multi : Apartment::Single;
}

// The system's apartment calls, and a CoCreateInstance that hands out a fake system
// device enumerator. Function pointers cannot capture, hence one script.
struct Script {
    HRESULT initializeAnswer = S_OK, createAnswer = S_OK; // a failing initialisation enters nothing
    SystemDeviceEnum* systemDevices = nullptr;
};
inline Script script;

inline const Vardel::com::EntryPoints scripted{
    [](LPVOID reserved, DWORD mode) {
        return FAILED(script.initializeAnswer) ? script.initializeAnswer : CoInitializeEx(reserved, mode);
    },
    [](REFCLSID type, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) -> HRESULT {
        *object = nullptr;
        if (type != CLSID_SystemDeviceEnum || outer || context != CLSCTX_INPROC_SERVER || iid != IID_ICreateDevEnum)
            return REGDB_E_CLASSNOTREG;
        if (FAILED(script.createAnswer))
            return script.createAnswer;
        *object = static_cast<ICreateDevEnum*>(script.systemDevices);
        return script.systemDevices->AddRef(), S_OK;
    },
    &CoUninitialize,
};

} // namespace fakes
