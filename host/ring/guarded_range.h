#pragma once

// Shared memory that another process can truncate. Once the object behind a mapping is
// cut short, touching the pages past its new end raises SIGBUS, which would end this
// process (the host) in the middle of copying a frame. While a GuardedRange lives, such
// a fault is answered by mapping private zero pages over the whole range, the access
// completes on them, and the range reports itself lost: its owner then stops trusting it.
// Faults anywhere else go on to the handler that was installed before.

#include "host/vardelcore_export.h"

#include <cstddef>

namespace Vardel {

class VARDELCORE_EXPORT GuardedRange {
public:
    GuardedRange() = default;
    // protection: the PROT_ flags of the mapping, kept for the zero pages.
    GuardedRange(void* address, std::size_t bytes, int protection);
    GuardedRange(GuardedRange&& other) noexcept;
    GuardedRange& operator=(GuardedRange&& other) noexcept;
    GuardedRange(const GuardedRange&) = delete;
    GuardedRange& operator=(const GuardedRange&) = delete;
    // Unregisters; the owner unmaps the range afterwards.
    ~GuardedRange();

    // False when every entry of the registry was taken (the range is then unguarded).
    bool guarded() const { return entry_ >= 0; }
    // A fault hit the range: it now holds zero pages of this process only.
    bool lost() const;
    void reset();

private:
    int entry_ = -1;
};

} // namespace Vardel
