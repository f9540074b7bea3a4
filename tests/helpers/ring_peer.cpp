// A second process on a ring, for the tests.
//   ring_peer bars NAME FRAMES TIMEOUT_MS   reads FRAMES frames of the test pattern, checking each;
//                                           prints "good=N bad=N size=WxH", exit 0 when all were sound
//   ring_peer hold NAME                     connects a writer (2 slots of 4096 bytes), prints
//                                           "ready" and waits to be killed

#include "app/frame_checker.h"
#include "host/ring/video_ring_buffer_reader.h"
#include "host/ring/video_ring_buffer_writer.h"

#include <cstdio>
#include <unistd.h>

using namespace Vardel;

int main(int argc, char** argv)
{
    const std::string mode = argc > 2 ? argv[1] : "";
    VideoRingBufferWriter writer;
    if (mode == "hold" && writer.connect(argv[2], 2, 4096)) {
        std::printf("ready\n");
        std::fflush(stdout);
        for (;;)
            ::pause();
    }
    VideoRingBufferReader reader;
    const long frames = argc == 5 ? std::stol(argv[3]) : 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(argc == 5 ? std::stol(argv[4]) : 0);
    if (mode != "bars" || argc != 5 || !reader.attachBy(argv[2], deadline))
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
