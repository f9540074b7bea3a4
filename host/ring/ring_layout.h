#pragma once

// Layout of the shared-memory video ring: a control block, one descriptor per slot,
// then the page-aligned slot data. Writer and readers in different processes agree on
// it through the fixed header, which a reader validates before trusting anything else.

#include "host/ring/frame_slot.h"
#include "host/vardelcore_export.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace Vardel::ring {

inline constexpr std::uint64_t kMagic = 0x31474e4952445256ull; // "VRDRING1"
inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::uint32_t kMaxSlots = 256;
inline constexpr std::uint64_t kMaxSlotBytes = 1ull << 30;
inline constexpr std::uint64_t kPageBytes = 4096;

// The part of the control block that never changes while a region exists.
// magic is written last, so a reader that sees it sees the rest.
struct FixedHeader {
    std::uint64_t magic;
    std::uint32_t version;
    std::uint32_t slotCount;
    std::uint64_t slotBytes;
    std::uint64_t dataOffset;
    std::uint64_t regionBytes;
};

struct alignas(64) Control {
    FixedHeader fixed;
    std::atomic<std::uint64_t> epoch;          // new value whenever a writer takes the region over
    std::atomic<std::int32_t> writerPid;       // 0 when no writer holds the region
    std::atomic<std::uint32_t> captureActive;  // 1 while a producer feeds the ring
    alignas(64) std::atomic<std::uint64_t> latestFrame; // newest published frame number, 0 = none
    alignas(64) std::atomic<std::uint32_t> wakeWord;    // futex word, bumped for every published frame
    std::atomic<std::uint32_t> sleepers;                // readers inside a futex wait
};

// Frame number k (1, 2, ...) always lives in slot (k - 1) % slotCount: the writer's
// cursor only advances when a frame is published.
struct alignas(64) SlotDescriptor {
    std::atomic<std::uint64_t> sequence; // seqlock: odd while the slot is being written
    alignas(64) std::atomic<std::uint64_t> header[sizeof(FrameSlot) / 8]; // FrameSlot, word by word
};

static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);
static_assert(sizeof(Control) == 192);
static_assert(sizeof(SlotDescriptor) == 128);

struct Geometry {
    std::uint32_t slotCount = 0;
    std::uint64_t slotBytes = 0;
    std::uint64_t slotStride = 0; // slotBytes rounded up to whole pages
    std::uint64_t dataOffset = 0;
    std::uint64_t regionBytes = 0;
};

// Geometry for the given slot count and size, or nothing when they are out of range.
VARDELCORE_EXPORT std::optional<Geometry> makeGeometry(std::uint32_t slotCount, std::uint64_t slotBytes);

// Checks a region's fixed header against the size of the object that holds it.
// Every offset a reader uses is recomputed from the slot count and size, never taken
// from the region, so a header that passes here cannot lead a reader out of bounds.
VARDELCORE_EXPORT std::optional<Geometry> validateHeader(const FixedHeader& header, std::uint64_t objectBytes,
                                                         std::string& error);

// True when a frame header describes pixel data that fits a slot of slotBytes.
VARDELCORE_EXPORT bool frameHeaderFits(const FrameSlot& frame, std::uint64_t slotBytes);

// POSIX shared-memory names start with one '/', and have no other.
VARDELCORE_EXPORT std::optional<std::string> objectName(const std::string& name);

} // namespace Vardel::ring
