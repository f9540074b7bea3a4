#include "ring_tap.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace Vardel::bench {

bool RingTap::attach(const std::string& name, std::string& error)
{
    const auto object = ring::objectName(name);
    if (!object) {
        error = "invalid ring name";
        return false;
    }
    UniqueFd fd = shm::openExisting(*object, shm::Access::ReadOnly, error);
    if (!fd)
        return false;
    ring::FixedHeader fixed{};
    if (::pread(fd.get(), &fixed, sizeof fixed, 0) != ssize_t(sizeof fixed)) {
        error = "cannot read the ring header";
        return false;
    }
    const auto geometry = ring::validateHeader(fixed, std::uint64_t(shm::objectSize(fd.get())), error);
    if (!geometry)
        return false;
    Mapping mapping = shm::map(fd.get(), 0, geometry->dataOffset, shm::Access::ReadOnly, error);
    if (!mapping)
        return false;
    geometry_ = *geometry;
    fd_ = std::move(fd);
    mapping_ = std::move(mapping);
    control_ = reinterpret_cast<const ring::Control*>(mapping_.data());
    return true;
}

RingTap RingTap::attachOrExit(const std::string& name)
{
    RingTap tap;
    std::string error;
    if (!tap.attach(name, error)) {
        std::fprintf(stderr, "cannot read the ring: %s\n", error.c_str());
        std::exit(1);
    }
    return tap;
}

std::uint64_t RingTap::latestFrame() const
{
    return control_ ? control_->latestFrame.load(std::memory_order_acquire) : 0;
}

std::optional<FrameSlot> RingTap::header(std::uint64_t frameNumber) const
{
    if (!control_ || frameNumber == 0)
        return std::nullopt;
    const auto* descriptors = reinterpret_cast<const ring::SlotDescriptor*>(mapping_.data() + sizeof(ring::Control));
    const auto& d = descriptors[(frameNumber - 1) % geometry_.slotCount];
    for (int attempt = 0; attempt < 4; ++attempt) {
        const std::uint64_t before = d.sequence.load(std::memory_order_acquire);
        if (before & 1)
            continue;
        std::uint64_t words[sizeof(FrameSlot) / 8];
        for (std::size_t i = 0; i < std::size(words); ++i)
            words[i] = d.header[i].load(std::memory_order_relaxed);
        // Acquire fence: the header loads above complete before the sequence is looked at again.
        std::atomic_thread_fence(std::memory_order_acquire);
        if (d.sequence.load(std::memory_order_relaxed) != before)
            continue;
        FrameSlot frame;
        std::memcpy(&frame, words, sizeof frame);
        if (frame.frameNumber != frameNumber)
            return std::nullopt; // overwritten by a later frame, or not published yet
        return frame;
    }
    return std::nullopt;
}

} // namespace Vardel::bench
