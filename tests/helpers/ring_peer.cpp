// A writer in a process of its own, for the ring tests to kill.
//   ring_peer NAME   connects a writer to ring NAME (2 slots of 4096 bytes), marks it capturing,
//                    prints "ready" and waits to be killed

#include "host/ring/video_ring_buffer_writer.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    Vardel::VideoRingBufferWriter writer;
    if (argc != 2 || !writer.connect(argv[1], 2, 4096))
        return 2;
    writer.setCaptureActive(true);
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
