#pragma once

// Checks a reader applies to every frame it takes from the ring.

#include "host/ring/frame_slot.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace Vardel {

class FrameChecker {
public:
    enum class Expect {
        PackedFrames,      // a packed BGR frame that its header describes
        TestPattern,       // ...showing the colour bars; a new capture run may restart them
        OneTestPatternRun, // ...from a single run: frame numbers only rise, the bars never restart
    };

    explicit FrameChecker(Expect expect) : expect_(expect) {}

    // Why the frame is unsound, or nothing: a header that disagrees with itself, and with
    // the test pattern expected, bars that are wrong or that did not move the way the
    // frames published in between say they should.
    std::optional<QString> check(const FrameSlot& header, const std::vector<std::uint8_t>& pixels);

private:
    Expect expect_;
    std::uint64_t lastFrame_ = 0;
    std::uint32_t lastOffset_ = 0;
    std::uint32_t lastWidth_ = 0;
};

} // namespace Vardel
