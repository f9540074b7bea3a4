#include "host/ring/region_owner.h"

#include <cerrno>
#include <charconv>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Vardel::owner {

namespace {
Owner fromStat(const struct stat& st) { return {unsigned(st.st_uid), unsigned(st.st_mode & 07777)}; }

// The passwd entry of uid, or of name when name is given.
std::optional<struct passwd> lookUp(unsigned uid, const char* name, std::vector<char>& buffer)
{
    buffer.resize(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    const int rc = name ? ::getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found)
                        : ::getpwuid_r(uid_t(uid), &entry, buffer.data(), buffer.size(), &found);
    return rc == 0 && found ? std::optional(entry) : std::nullopt;
}
} // namespace

std::optional<Owner> of(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? std::optional(fromStat(st)) : std::nullopt;
}

std::optional<Owner> ofObject(const std::string& objectName)
{
    struct stat st {};
    return ::stat(("/dev/shm" + objectName).c_str(), &st) == 0 ? std::optional(fromStat(st)) : std::nullopt;
}

unsigned myUid() { return unsigned(::geteuid()); }

bool privateToMe(const Owner& owner) { return owner.uid == myUid() && (owner.mode & 077) == 0; }

std::string describeUser(unsigned uid)
{
    std::vector<char> buffer;
    const auto entry = lookUp(uid, nullptr, buffer);
    return entry ? std::string(entry->pw_name) + " (uid " + std::to_string(uid) + ")" : "uid " + std::to_string(uid);
}

std::optional<unsigned> userId(const std::string& nameOrNumber)
{
    unsigned uid = 0;
    const char* end = nameOrNumber.data() + nameOrNumber.size();
    if (const auto [at, ec] = std::from_chars(nameOrNumber.data(), end, uid); ec == std::errc() && at == end)
        return uid;
    std::vector<char> buffer;
    const auto entry = lookUp(0, nameOrNumber.c_str(), buffer);
    return entry ? std::optional(unsigned(entry->pw_uid)) : std::nullopt;
}

bool processAlive(int pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

} // namespace Vardel::owner
