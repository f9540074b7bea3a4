#include "app/frame_checker.h"

#include "capture/bar_recognition.h"
#include "capture/colour_bars.h"
#include "host/ring/packed_bgr.h"

namespace Vardel {

std::optional<QString> FrameChecker::check(const FrameSlot& header, const std::vector<std::uint8_t>& pixels)
{
    if (!isPackedBgr(header, pixels.size()))
        return QStringLiteral("frame %1: header does not describe a packed BGR frame").arg(header.frameNumber);
    if (expect_ == Expect::PackedFrames)
        return std::nullopt;
    const auto offset = findBarOffset(pixels.data(), header.width, header.height);
    if (!offset)
        return QStringLiteral("frame %1: not the colour bars").arg(header.frameNumber);
    const bool oneRun = expect_ == Expect::OneTestPatternRun;
    if (oneRun && lastFrame_ != 0 && header.frameNumber <= lastFrame_)
        return QStringLiteral("frame %1: not newer than frame %2").arg(header.frameNumber).arg(lastFrame_);
    // Within a run the bars move two columns per frame: a frame showing the wrong place
    // is stale or out of order.
    if (lastFrame_ != 0 && header.width == lastWidth_ && header.frameNumber > lastFrame_) {
        const std::uint32_t expected = barOffsetAfter(lastOffset_, header.frameNumber - lastFrame_, header.width);
        // A new capture run restarts the motion from offset 0; anything else must follow on.
        if (*offset != expected && (oneRun || *offset != 0))
            return QStringLiteral("frame %1: bars at column %2, expected %3").arg(header.frameNumber).arg(*offset).arg(expected);
    }
    lastFrame_ = header.frameNumber;
    lastOffset_ = *offset;
    lastWidth_ = header.width;
    return std::nullopt;
}

} // namespace Vardel
