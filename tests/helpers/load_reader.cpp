// A reader process for the load test: reads the test pattern from a ring for a while and
// checks every frame it gets, then prints its figures on one line.
//   load_reader NAME SECONDS
// Output: "attached" once it is, then SECONDS later one line:
//   frames= misses= bad= retries= p50_ms= p99_ms= max_ms= size=WxH
//   misses   frames published while this reader was busy and never read by it
//   bad      frames whose header or pixels were not one whole frame of the pattern, whose
//            number did not rise, or whose bars were not where the frame's number puts
//            them (a stale frame)
//   retries  copies the reader threw away because the writer overwrote them meanwhile
//   latency  from the frame's timestamp (complete in the slot) to the copy being checked
// Exit status 0 when at least one frame was read and none was bad.

#include "app/frame_checker.h"
#include "capture/steady_clock.h"
#include "host/ring/video_ring_buffer_reader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace Vardel;
using Clock = std::chrono::steady_clock;

namespace {

double percentile(std::vector<double> sorted, double p)
{
    if (sorted.empty())
        return 0.0;
    std::sort(sorted.begin(), sorted.end());
    return sorted[std::min(sorted.size() - 1, std::size_t(p * double(sorted.size())))];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: load_reader NAME SECONDS\n");
        return 64;
    }
    const std::string name = argv[1];
    const auto seconds = std::chrono::seconds(std::atol(argv[2]));
    VideoRingBufferReader reader;
    if (!reader.attachBy(name, Clock::now() + seconds)) {
        std::printf("error=%s\n", reader.lastError().c_str());
        return 2;
    }
    std::printf("attached\n");
    std::fflush(stdout);
    const auto end = Clock::now() + seconds;

    FrameChecker checker(FrameChecker::Expect::OneTestPatternRun);
    long frames = 0, misses = 0, bad = 0;
    std::uint64_t previous = 0;
    std::uint32_t width = 0, height = 0;
    std::vector<double> latencies;
    latencies.reserve(1 << 14);
    FrameSlot header;
    std::vector<std::uint8_t> pixels;
    while (Clock::now() < end) {
        if (reader.waitForFrame(std::chrono::milliseconds(200)) != VideoRingBufferReader::WaitResult::Frame
            || reader.readLatest(header, pixels) != VideoRingBufferReader::ReadResult::Frame)
            continue;
        const bool sound = !checker.check(header, pixels);
        latencies.push_back(double(steadyNowNs() - header.timestampNs) / 1e6);
        if (previous != 0 && header.frameNumber > previous + 1)
            misses += long(header.frameNumber - previous - 1);
        previous = std::max(previous, header.frameNumber);
        ++frames;
        bad += sound ? 0 : 1;
        width = header.width;
        height = header.height;
    }
    std::printf("frames=%ld misses=%ld bad=%ld retries=%llu p50_ms=%.2f p99_ms=%.2f max_ms=%.2f size=%ux%u\n", frames,
                misses, bad, static_cast<unsigned long long>(reader.tornReads()), percentile(latencies, 0.50),
                percentile(latencies, 0.99), percentile(latencies, 1.0), width, height);
    return frames > 0 && bad == 0 ? 0 : 1;
}
