#pragma once

// What the host's core library offers a plug-in of its shared-memory names.

#include <QString>

namespace Vardel {

class SharedMemoryManager {
public:
    static SharedMemoryManager& instance();
    QString getVideoRingBufferName() const;

private:
    SharedMemoryManager();
};

} // namespace Vardel
