#include "host/shared_memory_manager.h"

#include <unistd.h>

namespace Vardel {

SharedMemoryManager& SharedMemoryManager::instance()
{
    static SharedMemoryManager manager;
    return manager;
}

SharedMemoryManager::SharedMemoryManager()
    : videoRingName_(QStringLiteral("vardel-video-%1").arg(::getuid()))
{
}

QString SharedMemoryManager::getVideoRingBufferName() const
{
    std::lock_guard lock(mutex_);
    return videoRingName_;
}

void SharedMemoryManager::setVideoRingBufferName(const QString& name)
{
    std::lock_guard lock(mutex_);
    videoRingName_ = name;
}

} // namespace Vardel
