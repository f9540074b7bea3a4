// Arbitrary bytes as a shared-memory ring region, which any process of the user can write.
// The header check must accept only geometries that lie inside the object, a reader of
// the region must refuse it or hand out only bytes of the slot its frame names, and a
// writer must take it over or replace it, after which a reader gets its frame intact, or
// leave it untouched when the writer it names still runs.
//
// A reader attached to it reads and waits several times in a row, as a reader's loop does,
// so that a reader answering "frame" again and again for one it refused shows.
//
// Input: one byte of switches, the 40-byte fixed header, the 8-byte object size, then the
// region's bytes behind the header. Switches repair the header, so that the descriptors
// and frames behind a sound one are reached: bit 0 magic and version, bit 1 the offsets,
// bit 2 the object's size; bit 3 has a writer connect afterwards.

#include "host/ring/video_ring_buffer_reader.h"
#include "host/ring/video_ring_buffer_writer.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

using namespace Vardel;
#define REQUIRE(condition) ((condition) ? void() : __builtin_trap())

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ring::FixedHeader header;
    std::uint64_t objectBytes;
    constexpr std::size_t kPrefix = 1 + sizeof header + sizeof objectBytes;
    constexpr std::uint64_t kMaxBuiltBytes = 8ull << 20; // larger regions are only checked: runs stay quick
    if (size < kPrefix)
        return 0;
    std::memcpy(&header, data + 1, sizeof header);
    std::memcpy(&objectBytes, data + 1 + sizeof header, 8);
    const auto claimed = ring::makeGeometry(header.slotCount, header.slotBytes);
    if (data[0] & 1)
        header.magic = ring::kMagic, header.version = ring::kVersion;
    if ((data[0] & 2) && claimed)
        header.dataOffset = claimed->dataOffset, header.regionBytes = claimed->regionBytes;
    if ((data[0] & 4) && claimed)
        objectBytes = claimed->regionBytes;
    std::string error;
    const auto accepted = ring::validateHeader(header, objectBytes, error);
    REQUIRE(accepted.has_value() == error.empty()
            && (!accepted || (header.magic == ring::kMagic && header.version == ring::kVersion && claimed
                              && claimed->regionBytes == accepted->regionBytes && claimed->dataOffset == accepted->dataOffset
                              && accepted->regionBytes <= objectBytes)));
    if (objectBytes > kMaxBuiltBytes)
        return 0;

    // The region as a foreign program could leave it. Its newest frame number is published once
    // a reader is there, so that the frame is new to the reader.
    std::vector<std::uint8_t> region(std::max<std::uint64_t>(objectBytes, sizeof header), 0);
    std::memcpy(region.data(), &header, sizeof header);
    std::memcpy(region.data() + sizeof header, data + kPrefix, std::min(size - kPrefix, region.size() - sizeof header));
    region.resize(objectBytes);
    const std::string name = "korvane-fuzz-ring-" + std::to_string(::getpid());
    const int fd = ::shm_open(("/" + name).c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    constexpr std::size_t kLatest = offsetof(ring::Control, latestFrame);
    const bool hasLatest = region.size() >= kLatest + 8;
    REQUIRE(fd >= 0 && ::ftruncate(fd, off_t(region.size())) == 0
            && ::pwrite(fd, region.data(), region.size(), 0) == ssize_t(region.size())
            && (!hasLatest || ::pwrite(fd, "\0\0\0\0\0\0\0", 8, kLatest) == 8));
    FrameSlot frame;
    std::vector<std::uint8_t> pixels;
    VideoRingBufferReader reader;
    const bool attached = reader.attach(name);
    REQUIRE(!hasLatest || ::pwrite(fd, region.data() + kLatest, 8, kLatest) == 8);
    // Reads and waits as a reader's loop does: whether the frame is handed out, refused or
    // torn, waiting must not answer "frame" for it again (a reader would spin).
    for (int round = 0, answers = 0; attached && round < 4; ++round) {
        if (reader.waitForFrame(std::chrono::nanoseconds(0)) != VideoRingBufferReader::WaitResult::Frame)
            continue;
        REQUIRE(++answers == 1);
        if (reader.readLatest(frame, pixels) == VideoRingBufferReader::ReadResult::Frame) {
            const auto g = *ring::makeGeometry(reader.slotCount(), reader.slotBytes());
            const std::uint64_t start = g.dataOffset + (frame.frameNumber - 1) % g.slotCount * g.slotStride;
            REQUIRE(frame.frameNumber != 0 && frame.dataSize <= g.slotBytes && pixels.size() == frame.dataSize
                    && std::equal(pixels.begin(), pixels.end(), region.begin() + std::ptrdiff_t(start)));
        }
    }
    VideoRingBufferWriter writer;
    if ((data[0] & 8) && claimed && claimed->regionBytes <= kMaxBuiltBytes
        && !writer.connect(name, header.slotCount, unsigned(header.slotBytes))) {
        // Refused only for a writer that runs (the region's pid may name any process), and
        // then the region is left as it was.
        std::vector<std::uint8_t> after(region.size());
        REQUIRE(writer.lastError().find(" is being written by process ") != std::string::npos
                && ::pread(fd, after.data(), after.size(), 0) == ssize_t(after.size()) && after == region);
    } else if (writer.isConnected()) {
        REQUIRE(reader.attach(name));
        auto slot = writer.acquireWriteSlot();
        REQUIRE(slot.has_value());
        std::memset(slot->data, 0x5a, slot->capacity);
        const auto bytes = std::uint32_t(header.slotBytes); // one column of single bytes fills the slot
        writer.releaseWriteSlot(slot->slotIndex, {.width = 1, .height = bytes, .channels = 1, .stride = 1, .dataSize = bytes});
        REQUIRE(reader.readLatest(frame, pixels) == VideoRingBufferReader::ReadResult::Frame);
        REQUIRE(frame.frameNumber == 1 && pixels.size() == header.slotBytes
                && std::all_of(pixels.begin(), pixels.end(), [](std::uint8_t b) { return b == 0x5a; }));
    }
    ::close(fd);
    ::shm_unlink(("/" + name).c_str());
    return 0;
}
