// A writer in a process of its own, for the ring tests to kill.
//   ring_peer NAME [SLOTS BYTES]   connects a writer to ring NAME (2 slots of 4096 bytes unless
//                                  told), marks it capturing, prints "ready" and waits to be killed

#include "host/ring/video_ring_buffer_writer.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char** argv)
{
    Vardel::VideoRingBufferWriter writer;
    const bool sized = argc == 4;
    if ((argc != 2 && !sized)
        || !writer.connect(argv[1], sized ? std::atoi(argv[2]) : 2, sized ? std::atoi(argv[3]) : 4096))
        return 2;
    writer.setCaptureActive(true);
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
