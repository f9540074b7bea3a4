#pragma once

#include "host/vardelcore_export.h"

#include <QString>
#include <mutex>

namespace Vardel {

// Knows the names of the host's shared-memory objects.
class VARDELCORE_EXPORT SharedMemoryManager {
public:
    static SharedMemoryManager& instance();

    // Per-user default unless the host has chosen another name.
    QString getVideoRingBufferName() const;
    void setVideoRingBufferName(const QString& name);

private:
    SharedMemoryManager();
    mutable std::mutex mutex_;
    QString videoRingName_;
};

} // namespace Vardel
