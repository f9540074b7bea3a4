// A reader process for the load test: reads the test pattern from a ring for a while and
// checks every frame it gets, then prints its figures on one line.
//   load_reader NAME SECONDS
// Output: "attached" once it is, then SECONDS later (sooner if the writer goes) one line:
//   frames= misses= bad= retries= p50_ms= p99_ms= max_ms= size=WxH
//   misses   frames published while this reader was busy and never read by it
//   bad      reads refused, and frames whose header or pixels were not one whole frame of
//            the pattern, whose number did not rise, or whose bars were not where the
//            frame's number puts them (a stale frame)
//   retries  copies the reader threw away because the writer overwrote them meanwhile
//   latency  from the frame's timestamp (complete in the slot) to the copy being checked
// Exit status 0 when at least one frame was read and none was bad.

#include "app/ring_reading.h"
#include "capture/steady_clock.h"
#include "host/ring/video_ring_buffer_reader.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace Vardel;
using Clock = std::chrono::steady_clock;

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

    // The whole run's latencies, each taken once its frame is checked.
    StatsAccumulator run;
    std::uint32_t width = 0, height = 0;
    RingReading reading(reader, FrameChecker(FrameChecker::Expect::OneTestPatternRun),
                        {[&](const FrameSlot& header, std::vector<std::uint8_t>&) {
                             run.frame(double(steadyNowNs() - header.timestampNs) / 1e6);
                             width = header.width;
                             height = header.height;
                         },
                         [](const QString&) {}, [](const RingStats&) {}});
    reading.readWhile([&] { return Clock::now() < end; }, std::chrono::milliseconds(200));
    const auto [frames, misses, retries, bad] = reading.totals();
    const RingStats latency = run.summarise(0);
    std::printf("frames=%llu misses=%llu bad=%llu retries=%llu p50_ms=%.2f p99_ms=%.2f max_ms=%.2f size=%ux%u\n",
                static_cast<unsigned long long>(frames), static_cast<unsigned long long>(misses),
                static_cast<unsigned long long>(bad), static_cast<unsigned long long>(retries), latency.latencyP50Ms,
                latency.latencyP99Ms, latency.latencyMaxMs, width, height);
    return frames > 0 && bad == 0 ? 0 : 1;
}
