// The reading side of the latency benchmark, run by it as a process of its own:
//   latency_reader NAME FRAMES TIMEOUT_MS
// Attaches to the ring, says "ready", then for each frame waits on the ring's wake word,
// takes the newest frame and checks it completely: the header, and every pixel against
// the test pattern at the place in the motion its frame number gives. Prints one line
// per frame read: frame number, its timestamp, the steady clock when the wait returned
// and when the check was done, and 1 or 0 for a sound frame.

#include "capture/bar_recognition.h"
#include "capture/colour_bars.h"
#include "capture/steady_clock.h"
#include "host/ring/packed_bgr.h"
#include "host/ring/video_ring_buffer_reader.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace Vardel;

namespace {

struct Sample {
    std::uint64_t frameNumber;
    std::int64_t timestampNs;
    std::int64_t wokeNs;
    std::int64_t checkedNs;
    bool sound;
};

// Frame k of a fresh ring is frame n = k - 1 of the pattern.
bool sound(const FrameSlot& header, const std::vector<std::uint8_t>& pixels)
{
    if (!isPackedBgr(header, pixels.size()))
        return false;
    const auto offset = findBarOffset(pixels.data(), header.width, header.height);
    return offset && *offset == barOffsetAfter(0, header.frameNumber - 1, header.width);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s NAME FRAMES TIMEOUT_MS\n", argv[0]);
        return 64;
    }
    const std::string name = argv[1];
    const long frames = std::atol(argv[2]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::atol(argv[3]));

    VideoRingBufferReader reader;
    if (!reader.attachBy(name, deadline)) {
        std::fprintf(stderr, "latency_reader: %s\n", reader.lastError().c_str());
        return 2;
    }
    // Let the reader's pages be warmed before the first frame is timed.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<Sample> samples;
    samples.reserve(std::size_t(frames));
    FrameSlot header;
    std::vector<std::uint8_t> pixels;
    while (long(samples.size()) < frames && std::chrono::steady_clock::now() < deadline) {
        if (reader.waitForFrame(std::chrono::milliseconds(200)) != VideoRingBufferReader::WaitResult::Frame)
            continue;
        const std::int64_t woke = steadyNowNs();
        if (reader.readLatest(header, pixels) != VideoRingBufferReader::ReadResult::Frame)
            continue;
        const bool ok = sound(header, pixels);
        samples.push_back({header.frameNumber, header.timestampNs, woke, steadyNowNs(), ok});
    }
    for (const Sample& s : samples)
        std::printf("%llu %lld %lld %lld %d\n", static_cast<unsigned long long>(s.frameNumber),
                    static_cast<long long>(s.timestampNs), static_cast<long long>(s.wokeNs),
                    static_cast<long long>(s.checkedNs), s.sound ? 1 : 0);
    std::printf("torn %llu\n", static_cast<unsigned long long>(reader.tornReads()));
    return long(samples.size()) >= frames ? 0 : 1;
}
