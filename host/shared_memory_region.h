#pragma once

// Owners of POSIX shared-memory objects, their descriptors and their mappings.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace Vardel {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset();

private:
    int fd_ = -1;
};

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

namespace shm {

enum class Access { ReadOnly, ReadWrite };

// Opens an existing object; an empty descriptor when there is none (error says why).
UniqueFd openExisting(const std::string& objectName, Access access, std::string& error);
// Creates a new object of the given size, readable and writable by this user only.
UniqueFd createExclusive(const std::string& objectName, std::uint64_t bytes, std::string& error);
void unlink(const std::string& objectName);

// Size of the object, or -1.
std::int64_t objectSize(int fd);
// True once the object has been unlinked (replaced or removed by its writer).
bool unlinked(int fd);

Mapping map(int fd, std::uint64_t offset, std::uint64_t bytes, Access access, std::string& error);
// Maps every page now, so that no later access (a frame written or read) pays for a page fault.
void populate(const Mapping& mapping, Access access);

} // namespace shm
} // namespace Vardel
