#include "host/ring/ring_layout.h"

namespace Vardel::ring {

namespace {
constexpr std::uint64_t roundUp(std::uint64_t value, std::uint64_t multiple)
{
    return (value + multiple - 1) / multiple * multiple;
}
} // namespace

std::optional<Geometry> makeGeometry(std::uint32_t slotCount, std::uint64_t slotBytes)
{
    if (slotCount == 0 || slotCount > kMaxSlots || slotBytes == 0 || slotBytes > kMaxSlotBytes)
        return std::nullopt;
    Geometry g;
    g.slotCount = slotCount;
    g.slotBytes = slotBytes;
    g.slotStride = roundUp(slotBytes, kPageBytes);
    g.dataOffset = roundUp(sizeof(Control) + std::uint64_t(slotCount) * sizeof(SlotDescriptor), kPageBytes);
    g.regionBytes = g.dataOffset + std::uint64_t(slotCount) * g.slotStride; // at most 256 GiB: no overflow
    return g;
}

std::optional<Geometry> validateHeader(const FixedHeader& header, std::uint64_t objectBytes, std::string& error)
{
    if (objectBytes < sizeof(Control)) {
        error = "region is too small to hold a ring";
        return std::nullopt;
    }
    if (header.magic != kMagic) {
        error = "region is not a video ring (bad magic)";
        return std::nullopt;
    }
    if (header.version != kVersion) {
        error = "unsupported ring version " + std::to_string(header.version);
        return std::nullopt;
    }
    auto geometry = makeGeometry(header.slotCount, header.slotBytes);
    if (!geometry) {
        error = "ring geometry out of range (" + std::to_string(header.slotCount) + " slots of "
            + std::to_string(header.slotBytes) + " bytes)";
        return std::nullopt;
    }
    if (header.dataOffset != geometry->dataOffset || header.regionBytes != geometry->regionBytes) {
        error = "ring header disagrees with its own geometry";
        return std::nullopt;
    }
    if (objectBytes < geometry->regionBytes) {
        error = "region is smaller (" + std::to_string(objectBytes) + " bytes) than its ring ("
            + std::to_string(geometry->regionBytes) + " bytes)";
        return std::nullopt;
    }
    return geometry;
}

bool frameHeaderFits(const FrameSlot& frame, std::uint64_t slotBytes)
{
    const std::uint64_t rowBytes = std::uint64_t(frame.width) * frame.channels;
    return frame.dataSize <= slotBytes && std::uint64_t(frame.stride) * frame.height == frame.dataSize
        && rowBytes <= frame.stride;
}

std::optional<std::string> objectName(const std::string& name)
{
    std::string result = name.empty() || name.front() != '/' ? "/" + name : name;
    if (result.size() < 2 || result.size() > 255 || result.find('/', 1) != std::string::npos)
        return std::nullopt;
    return result;
}

} // namespace Vardel::ring
