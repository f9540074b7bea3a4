#include "host/ring/shm_object.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Vardel::shm {

namespace {
std::string describe(const char* what, const std::string& name)
{
    return std::string(what) + " " + name + ": " + std::strerror(errno);
}
} // namespace

UniqueFd openExisting(const std::string& objectName, Access access, std::string& error)
{
    const int flags = (access == Access::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    UniqueFd fd(::shm_open(objectName.c_str(), flags, 0));
    if (!fd)
        error = describe("cannot open shared memory", objectName);
    return fd;
}

UniqueFd createExclusive(const std::string& objectName, std::uint64_t bytes, std::string& error)
{
    UniqueFd fd(::shm_open(objectName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd) {
        error = describe("cannot create shared memory", objectName);
        return fd;
    }
    // The umask may have taken bits of 0600 away (never added any), and a reader of this
    // user needs both: exactly 0600 again.
    const bool privateMode = ::fchmod(fd.get(), 0600) == 0;
    if (!privateMode || ::ftruncate(fd.get(), static_cast<off_t>(bytes)) != 0) {
        error = describe(privateMode ? "cannot size shared memory" : "cannot make private shared memory", objectName);
        ::shm_unlink(objectName.c_str());
        fd.reset();
    }
    return fd;
}

bool unlink(const std::string& objectName) { return ::shm_unlink(objectName.c_str()) == 0; }

std::int64_t objectSize(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

bool unlinked(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) != 0 || st.st_nlink == 0;
}

Mapping map(int fd, std::uint64_t offset, std::uint64_t bytes, Access access, std::string& error)
{
    const int prot = access == Access::ReadWrite ? PROT_READ | PROT_WRITE : PROT_READ;
    void* address = ::mmap(nullptr, bytes, prot, MAP_SHARED, fd, static_cast<off_t>(offset));
    if (address == MAP_FAILED) {
        error = std::string("cannot map shared memory: ") + std::strerror(errno);
        return {};
    }
    return Mapping(address, bytes);
}

void populate(const Mapping& mapping, Access access)
{
#if defined(MADV_POPULATE_WRITE) && defined(MADV_POPULATE_READ)
    if (::madvise(mapping.data(), mapping.size(), access == Access::ReadWrite ? MADV_POPULATE_WRITE : MADV_POPULATE_READ)
        == 0)
        return;
#endif
    // Older kernels: one access per page does the same. A writable region is fresh, so a
    // zero written over zero changes nothing a reader could see.
    const long page = ::sysconf(_SC_PAGESIZE);
    auto* bytes = static_cast<volatile std::uint8_t*>(mapping.data());
    for (std::size_t offset = 0; offset < mapping.size(); offset += static_cast<std::size_t>(page)) {
        if (access == Access::ReadWrite)
            bytes[offset] = bytes[offset];
        else
            (void)bytes[offset];
    }
}

} // namespace Vardel::shm
