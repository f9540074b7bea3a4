#pragma once

// POSIX shared-memory objects: opening, creating, sizing and mapping them.

#include "host/ring/mapping.h"
#include "host/ring/unique_fd.h"

#include <cstdint>
#include <string>

namespace Vardel::shm {

enum class Access { ReadOnly, ReadWrite };

// Opens an existing object; an empty descriptor when there is none (error says why).
UniqueFd openExisting(const std::string& objectName, Access access, std::string& error);
// Creates a new object of the given size, readable and writable by this user only (0600,
// whatever the umask).
UniqueFd createExclusive(const std::string& objectName, std::uint64_t bytes, std::string& error);
// False when there is no such object or this user may not remove it.
bool unlink(const std::string& objectName);

// Size of the object, or -1.
std::int64_t objectSize(int fd);
// True once the object has been unlinked (replaced or removed by its writer).
bool unlinked(int fd);

Mapping map(int fd, std::uint64_t offset, std::uint64_t bytes, Access access, std::string& error);
// Maps every page now, so that no later access (a frame written or read) pays for a page fault.
void populate(const Mapping& mapping, Access access);

} // namespace Vardel::shm
