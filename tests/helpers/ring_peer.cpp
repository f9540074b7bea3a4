// Second process for the ring tests.
//   ring_peer read NAME FRAMES TIMEOUT_MS   reads FRAMES frames, checking each against its header
//   ring_peer bars NAME FRAMES TIMEOUT_MS   reads FRAMES test-pattern frames, checking headers and bars
//   ring_peer write NAME FRAMES WIDTH HEIGHT [MAX_MS]
//                                            publishes FRAMES pattern frames as fast as it can,
//                                            stopping early after MAX_MS (slow sanitizer builds)
// Prints one "key=value ..." line; exit status 0 when every frame was sound.

#include "capture/bar_recognition.h"
#include "helpers/test_frames.h"
#include "host/ring/packed_bgr.h"
#include "host/ring/video_ring_buffer_reader.h"
#include "host/ring/video_ring_buffer_writer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace Vardel;

namespace {

// Reads frames until `frames` sound ones arrived or the time is up. A sound frame is newer
// than the last one read and, for "read", holds the bytes its header stands for; for
// "bars", it is a whole frame of the plug-in's test pattern.
int readFrames(const std::string& name, bool bars, long frames, long timeoutMs)
{
    VideoRingBufferReader reader;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!reader.attachBy(name, deadline)) {
        std::printf("error=%s\n", reader.lastError().c_str());
        return 2;
    }
    long good = 0, bad = 0;
    std::uint64_t previous = 0;
    FrameSlot header;
    std::vector<std::uint8_t> pixels;
    while (good < frames && std::chrono::steady_clock::now() < deadline) {
        if (reader.waitForFrame(std::chrono::milliseconds(200)) != VideoRingBufferReader::WaitResult::Frame
            || reader.readLatest(header, pixels) != VideoRingBufferReader::ReadResult::Frame)
            continue;
        const bool sound = header.frameNumber > previous
            && (bars ? isPackedBgr(header, pixels.size())
                       && findBarOffset(pixels.data(), header.width, header.height).has_value()
                     : testing::firstPatternMismatch(pixels.data(), header) < 0);
        ++(sound ? good : bad);
        previous = header.frameNumber;
    }
    std::printf("good=%ld bad=%ld size=%ux%u\n", good, bad, header.width, header.height);
    return good >= frames && bad == 0 ? 0 : 1;
}

int writeFrames(const std::string& name, long frames, std::uint32_t width, std::uint32_t height, long maxMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
    VideoRingBufferWriter writer;
    if (!writer.connect(name, 4, width * height * 3)) {
        std::printf("error=%s\n", writer.lastError().c_str());
        return 2;
    }
    writer.setCaptureActive(true);
    for (long i = 1; i <= frames && std::chrono::steady_clock::now() < deadline; ++i) {
        auto slot = writer.acquireWriteSlot();
        if (!slot)
            return 3;
        const FrameSlot header = testing::patternHeader(width, height, i);
        testing::fillPattern(slot->data, header);
        writer.releaseWriteSlot(slot->slotIndex, header);
        writer.signalAllFrameEvents();
    }
    std::printf("published=%llu\n", static_cast<unsigned long long>(writer.publishedFrames()));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if ((mode == "read" || mode == "bars") && argc == 5)
        return readFrames(argv[2], mode == "bars", std::atol(argv[3]), std::atol(argv[4]));
    if (mode == "write" && (argc == 6 || argc == 7))
        return writeFrames(argv[2], std::atol(argv[3]), std::uint32_t(std::atol(argv[4])), std::uint32_t(std::atol(argv[5])),
                           argc == 7 ? std::atol(argv[6]) : 24L * 3600 * 1000);
    std::fprintf(stderr, "usage: ring_peer read|bars NAME FRAMES TIMEOUT_MS | write NAME FRAMES WIDTH HEIGHT [MAX_MS]\n");
    return 64;
}
