#pragma once

// Hand-written COM objects standing in for DirectShow's device list: devices (each its own
// moniker and property bag), a moniker enumerator and the system device enumerator. Each
// counts its references and never deletes itself: the test owns it and checks that every
// reference handed out came back. TaskMemory watches the task allocator, where BSTRs live,
// so that a test sees every string handed out freed again.

#include <dshow.h>
#include <gtest/gtest.h>

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
    long references = 1;
    Counted<IUnknown> object; // what the VARIANT holds for Answer::Object
    Device(Answer answer, std::wstring text) : answer(answer), text(std::move(text)) {}

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
    // Nothing else is asked of a device.
    FAKES_NOT_ASKED(Write, LPCOLESTR, VARIANT*) FAKES_NOT_ASKED(GetClassID, CLSID*) FAKES_NOT_ASKED(IsDirty)
    FAKES_NOT_ASKED(Load, IStream*) FAKES_NOT_ASKED(Save, IStream*, WINBOOL) FAKES_NOT_ASKED(GetSizeMax, ULARGE_INTEGER*)
    FAKES_NOT_ASKED(BindToObject, IBindCtx*, IMoniker*, REFIID, void**) FAKES_NOT_ASKED(Hash, DWORD*)
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

    void add(Device::Answer answer, std::wstring text = {}) { step(S_OK, &devices.emplace_back(answer, text)); }
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
    IEnumMoniker* enumerator = nullptr; // handed out with a new reference when not null

    HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD flags) override
    {
        *out = nullptr;
        if (category != CLSID_VideoInputDeviceCategory || flags != 0)
            return E_INVALIDARG;
        if ((*out = enumerator))
            enumerator->AddRef();
        return answer;
    }
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

} // namespace fakes
