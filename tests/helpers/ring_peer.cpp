// A writer in a process of its own, for the ring tests to kill.
//   ring_peer NAME SLOTS BYTES   connects a writer to ring NAME with SLOTS slots of BYTES,
//                                marks it capturing, prints "ready" and waits to be killed

#include "host/ring/video_ring_buffer_writer.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char** argv)
{
    Vardel::VideoRingBufferWriter writer;
    if (argc != 4 || !writer.connect(argv[1], std::atoi(argv[2]), std::atoi(argv[3])))
        return 2;
    writer.setCaptureActive(true);
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
