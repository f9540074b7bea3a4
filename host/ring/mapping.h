#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace Vardel {

// Owns a memory mapping and unmaps it when it goes.
class Mapping {
public:
    Mapping() = default;
    Mapping(void* address, std::size_t bytes) : address_(address), bytes_(bytes) {}
    Mapping(Mapping&& other) noexcept
        : address_(std::exchange(other.address_, nullptr)), bytes_(std::exchange(other.bytes_, 0)) {}
    Mapping& operator=(Mapping&& other) noexcept;
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    ~Mapping();

    std::uint8_t* data() const { return static_cast<std::uint8_t*>(address_); }
    std::size_t size() const { return bytes_; }
    explicit operator bool() const { return address_ != nullptr; }
    void reset();

private:
    void* address_ = nullptr;
    std::size_t bytes_ = 0;
};

} // namespace Vardel
