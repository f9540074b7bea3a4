#include "host/settings_save_lock.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace Vardel {

namespace {
constexpr auto kLongestWait = std::chrono::seconds(30);

void removeAbandonedQtLock(const QByteArray& path)
{
    const UniqueFd lock(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat st {};
    if (lock && ::fstat(lock.get(), &st) == 0 && st.st_size == 0 && ::flock(lock.get(), LOCK_EX | LOCK_NB) == 0)
        ::unlink(path.constData());
}
} // namespace

SettingsSaveLock::SettingsSaveLock(const QString& settingsFile)
    : fd_(::open(QFile::encodeName(settingsFile + QStringLiteral(".savelock")).constData(),
                 O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600))
{
    const auto deadline = std::chrono::steady_clock::now() + kLongestWait;
    auto pause = std::chrono::milliseconds(1);
    while (fd_ && ::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
            fd_.reset();
            break;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
    if (fd_)
        removeAbandonedQtLock(QFile::encodeName(settingsFile + QStringLiteral(".lock")));
}

} // namespace Vardel
