#pragma once

// Hand-written COM objects standing in for DirectShow's device list: a moniker
// enumerator, monikers, their property bags and the system device enumerator. Each
// counts its references and never deletes itself; the test owns it and checks that
// every reference handed out came back. TaskMemory counts the task-allocator blocks
// (where BSTRs live) so that a test can prove every string handed out was freed.

#include "capture/com_device_walk.h"

#include <dshow.h>
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace Vardel::com {
inline void PrintTo(const DeviceName& device, std::ostream* out)
{
    *out << device.index << ": " << ::testing::PrintToString(device.name);
}
} // namespace Vardel::com

namespace fakes {

// Counts references only: the test holds the first one for as long as the object lives.
template <typename Interface>
class Counted : public Interface {
public:
    explicit Counted(const IID& iid) : iid_(iid) {}
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
    virtual ~Counted() = default;

    long references() const { return references_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (iid != IID_IUnknown && iid != iid_) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++references_); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--references_); }

private:
    const IID& iid_;
    long references_ = 1; // signed: a release too many shows as 0 or less
};

class Unknown : public Counted<IUnknown> {
public:
    Unknown() : Counted(IID_IUnknown) {}
};

// What a device's property bag answers when asked for "FriendlyName".
class PropertyBag : public Counted<IPropertyBag> {
public:
    enum class Answer {
        Text,              // a BSTR with the text
        NullText,          // VT_BSTR holding a null BSTR
        Number,            // VT_I4
        Object,            // VT_UNKNOWN holding a counted object
        Fails,             // E_FAIL, the VARIANT untouched
        FailsAfterFilling, // a BSTR put into the VARIANT, then E_FAIL
    };

    PropertyBag(Answer answer, std::wstring text = {})
        : Counted(IID_IPropertyBag), answer_(answer), text_(std::move(text)) {}

    int stringsHandedOut() const { return stringsHandedOut_; }
    const Unknown& object() const { return object_; }

    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog* errorLog) override;
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }

private:
    BSTR handOutString();

    Answer answer_;
    std::wstring text_;
    int stringsHandedOut_ = 0;
    Unknown object_;
};

// A device moniker: binds to its property bag, or fails to when it has none.
class Moniker : public Counted<IMoniker> {
public:
    explicit Moniker(PropertyBag* bag) : Counted(IID_IMoniker), bag_(bag) {}

    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx* context, IMoniker* left, REFIID iid, void** object) override;

    // Nothing else is asked of a device moniker.
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Load(IStream*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Save(IStream*, WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx*, IMoniker*, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reduce(IBindCtx*, DWORD, IMoniker**, IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ComposeWith(IMoniker*, WINBOOL, IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Enum(WINBOOL, IEnumMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsEqual(IMoniker*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Hash(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsRunning(IBindCtx*, IMoniker*, IMoniker*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Inverse(IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CommonPrefixWith(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RelativePathTo(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG*, IMoniker**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsSystemMoniker(DWORD*) override { return E_NOTIMPL; }

private:
    PropertyBag* bag_;
};

// Answers Next with a scripted sequence, then S_FALSE; asked again after that, it fails
// (so that a walk that would not stop still ends) and counts it.
class EnumMoniker : public Counted<IEnumMoniker> {
public:
    struct Step {
        HRESULT answer;
        IMoniker* moniker; // handed over with a new reference when not null
    };

    EnumMoniker() : Counted(IID_IEnumMoniker) {}

    void add(Step step) { steps_.push_back(step); }
    std::size_t nextCalls() const { return nextCalls_; }
    // Calls made after the enumerator said it had no more: a walk that does not stop.
    std::size_t nextCallsAfterEnd() const { return nextCallsAfterEnd_; }
    // Called on the first Next, before it answers: a look at the world as the walk starts.
    std::function<void()> onFirstNext;

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker** monikers, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMoniker**) override { return E_NOTIMPL; }

private:
    std::vector<Step> steps_;
    std::size_t nextCalls_ = 0;
    std::size_t nextCallsAfterEnd_ = 0;
};

// A set of devices behind one enumerator, built in enumeration order.
class Devices {
public:
    void add(PropertyBag::Answer answer, std::wstring text = {});
    void addNamed(std::wstring text) { add(PropertyBag::Answer::Text, std::move(text)); }
    void addUnbindable();
    // A Next answer without a device of ours; a moniker may come with it all the same.
    void addAnswer(HRESULT answer, bool withMoniker);

    EnumMoniker& enumerator() { return enumerator_; }
    int stringsHandedOut() const;
    // Every fake is back at the test's one reference: nothing kept, nothing released twice.
    ::testing::AssertionResult allReleased() const;

private:
    std::deque<PropertyBag> bags_;
    std::deque<Moniker> monikers_;
    EnumMoniker enumerator_;
};

// The system device enumerator: answers CreateClassEnumerator as it is told.
class SystemDeviceEnum : public Counted<ICreateDevEnum> {
public:
    SystemDeviceEnum(HRESULT answer, IEnumMoniker* enumerator)
        : Counted(IID_ICreateDevEnum), answer_(answer), enumerator_(enumerator) {}

    HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD flags) override;

private:
    HRESULT answer_;
    IEnumMoniker* enumerator_;
};

// Blocks of the COM task allocator, watched through a malloc spy. BSTRs live there once
// oleaut32's string cache is off, which instance() sees to.
class TaskMemory {
public:
    static TaskMemory& instance();

    long allocations() const { return allocations_; }
    long live() const { return allocations_ - frees_; }

    void allocated() { ++allocations_; }
    void freed() { ++frees_; }

private:
    TaskMemory() = default;
    std::atomic<long> allocations_{0};
    std::atomic<long> frees_{0};
};

} // namespace fakes
