// Arbitrary bytes as a shared-memory ring region. The header check alone must never
// accept a geometry that reaches past the object, and a reader of a region built from
// the bytes must refuse it or read only what lies inside the slot it names.
//
// Input: one byte of switches, the 40-byte fixed header, the 8-byte object size, then the
// region's bytes from offset 40 on. The switches repair parts of the header, so that the
// fuzzer also reaches the descriptors and frames behind a valid one:
//   bit 0  magic and version made right       bit 1  offsets derived from slot count and size
//   bit 2  object exactly the ring's size      bit 3  a writer takes the region over afterwards

#include "host/ring/ring_layout.h"
#include "host/ring/video_ring_buffer_reader.h"
#include "host/ring/video_ring_buffer_writer.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace Vardel;

namespace {

// Regions larger than this are only checked, not built: each run must stay quick.
constexpr std::uint64_t kMaxBuiltBytes = 8ull << 20;

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// What the header check promises for every geometry it accepts.
void checkAcceptedGeometry(const ring::FixedHeader& header, std::uint64_t objectBytes, const ring::Geometry& g)
{
    require(header.magic == ring::kMagic && header.version == ring::kVersion);
    require(g.slotCount >= 1 && g.slotCount <= ring::kMaxSlots && g.slotBytes >= 1 && g.slotBytes <= ring::kMaxSlotBytes);
    require(g.slotStride >= g.slotBytes && g.slotStride % ring::kPageBytes == 0);
    require(g.dataOffset % ring::kPageBytes == 0
            && g.dataOffset >= sizeof(ring::Control) + std::uint64_t(g.slotCount) * sizeof(ring::SlotDescriptor));
    require(g.regionBytes == g.dataOffset + std::uint64_t(g.slotCount) * g.slotStride);
    require(g.regionBytes <= objectBytes && header.regionBytes == g.regionBytes && header.dataOffset == g.dataOffset);
}

// The check on its own, with any size at all.
void checkHeader(const ring::FixedHeader& header, std::uint64_t objectBytes)
{
    std::string error;
    if (const auto accepted = ring::validateHeader(header, objectBytes, error))
        checkAcceptedGeometry(header, objectBytes, *accepted);
    else
        require(!error.empty());
}

std::string regionName()
{
    return "korvane-fuzz-ring-" + std::to_string(::getpid());
}

// Reads what a reader may: every frame it returns is a copy of bytes inside its slot.
void readRegion(const std::string& name, const std::vector<std::uint8_t>& region)
{
    VideoRingBufferReader reader;
    if (!reader.attach(name))
        return;
    const auto geometry = *ring::makeGeometry(reader.slotCount(), reader.slotBytes());
    FrameSlot header;
    std::vector<std::uint8_t> pixels;
    for (int i = 0; i < 3; ++i) {
        (void)reader.waitForFrame(std::chrono::nanoseconds(0));
        (void)reader.captureActive();
        (void)reader.writerAlive();
        if (reader.readLatest(header, pixels) != VideoRingBufferReader::ReadResult::Frame)
            continue;
        require(header.frameNumber == reader.latestFrameNumber() && header.frameNumber != 0);
        require(header.dataSize <= geometry.slotBytes && pixels.size() == header.dataSize);
        const std::uint64_t slotStart = geometry.dataOffset + (header.frameNumber - 1) % geometry.slotCount * geometry.slotStride;
        for (std::size_t at = 0; at < pixels.size(); ++at)
            require(pixels[at] == (slotStart + at < region.size() ? region[slotStart + at] : 0));
    }
}

// A writer finding the region: it takes a sound one over or replaces it, and readers then
// get exactly the frame it publishes.
void writeRegion(const std::string& name, std::uint32_t slotCount, std::uint64_t slotBytes)
{
    const auto geometry = ring::makeGeometry(slotCount, slotBytes);
    if (!geometry || geometry->regionBytes > kMaxBuiltBytes)
        return;
    VideoRingBufferWriter writer;
    require(writer.connect(name, slotCount, unsigned(slotBytes)));
    VideoRingBufferReader reader;
    require(reader.attach(name));
    auto slot = writer.acquireWriteSlot();
    require(slot.has_value());
    FrameSlot frame;
    frame.width = 1;
    frame.height = std::uint32_t(std::min<std::uint64_t>(slotBytes / 3, 1000));
    frame.channels = 3;
    frame.stride = 3;
    frame.dataSize = frame.stride * frame.height;
    std::memset(slot->data, 0x5a, frame.dataSize);
    writer.releaseWriteSlot(slot->slotIndex, frame);
    FrameSlot read;
    std::vector<std::uint8_t> pixels;
    require(reader.readLatest(read, pixels) == VideoRingBufferReader::ReadResult::Frame);
    require(read.frameNumber == 1 && pixels.size() == frame.dataSize);
    require(std::all_of(pixels.begin(), pixels.end(), [](std::uint8_t b) { return b == 0x5a; }));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t kPrefix = 1 + sizeof(ring::FixedHeader) + 8;
    if (size < kPrefix)
        return 0;
    const std::uint8_t switches = data[0];
    ring::FixedHeader header;
    std::memcpy(&header, data + 1, sizeof header);
    std::uint64_t objectBytes = 0;
    std::memcpy(&objectBytes, data + 1 + sizeof header, 8);

    checkHeader(header, objectBytes);
    if (switches & 1) {
        header.magic = ring::kMagic;
        header.version = ring::kVersion;
    }
    const auto claimed = ring::makeGeometry(header.slotCount, header.slotBytes);
    if ((switches & 2) && claimed) {
        header.dataOffset = claimed->dataOffset;
        header.regionBytes = claimed->regionBytes;
    }
    if ((switches & 4) && claimed)
        objectBytes = claimed->regionBytes;
    checkHeader(header, objectBytes);
    if (objectBytes > kMaxBuiltBytes)
        return 0;

    // The region as a foreign program could leave it: header, then the input's bytes.
    std::vector<std::uint8_t> region(objectBytes, 0);
    if (!region.empty())
        std::memcpy(region.data(), &header, std::min<std::size_t>(sizeof header, region.size()));
    if (region.size() > sizeof header)
        std::memcpy(region.data() + sizeof header, data + kPrefix,
                    std::min<std::size_t>(size - kPrefix, region.size() - sizeof header));
    const std::string name = regionName();
    ::shm_unlink(("/" + name).c_str());
    const int fd = ::shm_open(("/" + name).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    require(fd >= 0);
    require(::ftruncate(fd, off_t(region.size())) == 0);
    require(region.empty() || ::pwrite(fd, region.data(), region.size(), 0) == ssize_t(region.size()));
    ::close(fd);

    readRegion(name, region);
    if (switches & 8)
        writeRegion(name, header.slotCount, header.slotBytes);
    ::shm_unlink(("/" + name).c_str());
    return 0;
}
