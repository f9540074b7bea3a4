// A second process on a ring, for the tests.
//   ring_peer bars NAME FRAMES TIMEOUT_MS   reads FRAMES frames of the test pattern, checking each;
//                                           prints "good=N bad=N size=WxH", exit 0 when all were sound
//   ring_peer hold NAME                     connects a writer (2 slots of 4096 bytes), prints
//                                           "ready" and waits to be killed

#include "app/frame_checker.h"
#include "host/ring/video_ring_buffer_reader.h"
#include "host/ring/video_ring_buffer_writer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

using namespace Vardel;

int main(int argc, char** argv)
{
    const std::string mode = argc > 2 ? argv[1] : "";
    if (mode == "hold" && argc == 3) {
        VideoRingBufferWriter writer;
        if (!writer.connect(argv[2], 2, 4096))
            return 2;
        std::printf("ready\n");
        std::fflush(stdout);
        for (;;)
            ::pause();
    }
    if (mode != "bars" || argc != 5) {
        std::fprintf(stderr, "usage: ring_peer bars NAME FRAMES TIMEOUT_MS | hold NAME\n");
        return 64;
    }
    const long frames = std::atol(argv[3]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::atol(argv[4]));
    VideoRingBufferReader reader;
    if (!reader.attachBy(argv[2], deadline))
        return 2;
    FrameChecker checker(FrameChecker::Expect::OneTestPatternRun);
    long good = 0, bad = 0;
    FrameSlot header;
    std::vector<std::uint8_t> pixels;
    while (good < frames && std::chrono::steady_clock::now() < deadline) {
        if (reader.waitForFrame(std::chrono::milliseconds(200)) == VideoRingBufferReader::WaitResult::Frame
            && reader.readLatest(header, pixels) == VideoRingBufferReader::ReadResult::Frame)
            ++(checker.check(header, pixels) ? bad : good);
    }
    std::printf("good=%ld bad=%ld size=%ux%u\n", good, bad, header.width, header.height);
    return good >= frames && bad == 0 ? 0 : 1;
}
