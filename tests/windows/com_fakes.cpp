#include "com_fakes.h"

#include <cwchar>
#include <sstream>

// Exported by oleaut32 but missing from the headers: freed BSTRs go back to the task
// allocator at once instead of into a cache, where they would look leaked.
extern "C" void WINAPI SetOaNoCache(void);

namespace fakes {

BSTR PropertyBag::handOutString()
{
    ++stringsHandedOut_;
    return SysAllocString(text_.c_str());
}

HRESULT PropertyBag::Read(LPCOLESTR name, VARIANT* value, IErrorLog* errorLog)
{
    // A VARIANT that was not initialised would be taken for one holding something.
    if (!name || std::wcscmp(name, L"FriendlyName") != 0 || !value || value->vt != VT_EMPTY || errorLog)
        return E_INVALIDARG;
    switch (answer_) {
    case Answer::Text:
        value->vt = VT_BSTR;
        value->bstrVal = handOutString();
        return S_OK;
    case Answer::NullText:
        value->vt = VT_BSTR;
        value->bstrVal = nullptr;
        return S_OK;
    case Answer::Number:
        value->vt = VT_I4;
        value->lVal = 0x1234;
        return S_OK;
    case Answer::Object:
        value->vt = VT_UNKNOWN;
        value->punkVal = &object_;
        object_.AddRef();
        return S_OK;
    case Answer::Fails:
        return E_FAIL;
    case Answer::FailsAfterFilling:
        value->vt = VT_BSTR;
        value->bstrVal = handOutString();
        return E_FAIL;
    }
    return E_UNEXPECTED;
}

HRESULT Moniker::BindToStorage(IBindCtx* context, IMoniker* left, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (context || left)
        return E_INVALIDARG;
    if (iid != IID_IPropertyBag)
        return E_NOINTERFACE;
    if (!bag_)
        return E_FAIL;
    bag_->AddRef();
    *object = static_cast<IPropertyBag*>(bag_);
    return S_OK;
}

HRESULT EnumMoniker::Next(ULONG count, IMoniker** monikers, ULONG* fetched)
{
    // The walk asks for one at a time; a larger batch would need an array.
    if (count != 1 || !monikers)
        return E_INVALIDARG;
    const std::size_t step = nextCalls_++;
    if (step == 0 && onFirstNext)
        onFirstNext();
    if (step >= steps_.size()) {
        if (fetched)
            *fetched = 0;
        if (step == steps_.size())
            return S_FALSE;
        ++nextCallsAfterEnd_;
        return E_UNEXPECTED;
    }
    const Step& answer = steps_[step];
    *monikers = answer.moniker;
    if (answer.moniker)
        answer.moniker->AddRef();
    if (fetched)
        *fetched = answer.moniker ? 1 : 0;
    return answer.answer;
}

void Devices::add(PropertyBag::Answer answer, std::wstring text)
{
    PropertyBag& bag = bags_.emplace_back(answer, std::move(text));
    enumerator_.add({S_OK, &monikers_.emplace_back(&bag)});
}

void Devices::addUnbindable() { enumerator_.add({S_OK, &monikers_.emplace_back(nullptr)}); }

void Devices::addAnswer(HRESULT answer, bool withMoniker)
{
    enumerator_.add({answer, withMoniker ? &monikers_.emplace_back(nullptr) : nullptr});
}

int Devices::stringsHandedOut() const
{
    int count = 0;
    for (const PropertyBag& bag : bags_)
        count += bag.stringsHandedOut();
    return count;
}

::testing::AssertionResult Devices::allReleased() const
{
    std::ostringstream wrong;
    const auto check = [&](const char* what, std::size_t number, long references) {
        if (references != 1)
            wrong << ' ' << what << ' ' << number << " holds " << references << " references;";
    };
    for (std::size_t i = 0; i < monikers_.size(); ++i)
        check("moniker", i, monikers_[i].references());
    for (std::size_t i = 0; i < bags_.size(); ++i) {
        check("property bag", i, bags_[i].references());
        check("object in property bag", i, bags_[i].object().references());
    }
    check("enumerator", 0, enumerator_.references());
    if (wrong.str().empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << wrong.str();
}

HRESULT SystemDeviceEnum::CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD flags)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (category != CLSID_VideoInputDeviceCategory || flags != 0)
        return E_INVALIDARG;
    *out = enumerator_;
    if (enumerator_)
        enumerator_->AddRef();
    return answer_;
}

namespace {

// Watches without changing anything: no header of its own, same sizes, same pointers.
class Spy : public IMallocSpy {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid != IID_IUnknown && iid != IID_IMallocSpy) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = this;
        return S_OK;
    }
    // Registered for the life of the process.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
    void* STDMETHODCALLTYPE PostAlloc(void* block) override
    {
        if (block)
            TaskMemory::instance().allocated();
        return block;
    }
    void* STDMETHODCALLTYPE PreFree(void* block, WINBOOL spied) override
    {
        if (block && spied)
            TaskMemory::instance().freed();
        return block;
    }
    void STDMETHODCALLTYPE PostFree(WINBOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** newBlock, WINBOOL) override
    {
        *newBlock = block;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* block, WINBOOL) override { return block; }
    void* STDMETHODCALLTYPE PreGetSize(void* block, WINBOOL) override { return block; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, WINBOOL) override { return size; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* block, WINBOOL) override { return block; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, WINBOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

} // namespace

TaskMemory& TaskMemory::instance()
{
    static TaskMemory memory;
    static Spy spy;
    static const bool watching = [] {
        SetOaNoCache();
        return CoRegisterMallocSpy(&spy) == S_OK;
    }();
    if (!watching)
        ADD_FAILURE() << "cannot watch the task allocator";
    return memory;
}

} // namespace fakes
