#pragma once

// Reads the published frame headers of a ring without copying pixels: the control block
// and the slot descriptors, mapped read-only. Frame k always lives in slot (k - 1) mod
// slots, so a tap that looks at least once per ring's worth of frames sees every header.

#include "host/ring/frame_slot.h"
#include "host/ring/ring_layout.h"
#include "host/ring/shm_object.h"

#include <cstdint>
#include <optional>
#include <string>

namespace Vardel::bench {

class RingTap {
public:
    bool attach(const std::string& name, std::string& error);

    std::uint64_t latestFrame() const;
    // The header of frame number k while its slot still holds it, read consistently.
    std::optional<FrameSlot> header(std::uint64_t frameNumber) const;

    // A tap on the ring the plug-in has connected; ends the program when there is none.
    static RingTap attachOrExit(const std::string& name);

private:
    ring::Geometry geometry_;
    UniqueFd fd_;
    Mapping mapping_;
    const ring::Control* control_ = nullptr;
};

} // namespace Vardel::bench
