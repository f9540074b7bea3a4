#pragma once

// Holders that give COM back what was taken from it: a reference to an object, an
// apartment entered. Qt-free, for the Windows files that the tests also build under Wine.

#include <objbase.h>

#include <utility>

namespace Vardel::com {

// Holds one reference to a COM object and gives it back when it goes.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        std::swap(object_, other.object_);
        return *this;
    }

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }
    explicit operator bool() const { return object_ != nullptr; }

    // Out-parameter of a call that hands over a reference; gives back the one held before.
    T** put()
    {
        reset();
        return &object_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    void reset()
    {
        if (object_)
            std::exchange(object_, nullptr)->Release();
    }

private:
    T* object_ = nullptr;
};

// Undoes a successful CoInitializeEx on every way out of the scope that entered.
class ApartmentGuard {
public:
    explicit ApartmentGuard(decltype(&::CoUninitialize) uninitialize) : uninitialize_(uninitialize) {}
    ~ApartmentGuard() { uninitialize_(); }
    ApartmentGuard(const ApartmentGuard&) = delete;
    ApartmentGuard& operator=(const ApartmentGuard&) = delete;

private:
    decltype(&::CoUninitialize) uninitialize_;
};

} // namespace Vardel::com
