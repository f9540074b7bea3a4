// A writer in a process of its own, for the ring tests.
//   ring_peer NAME         connects a writer to ring NAME (2 slots of 4096 bytes), prints "ready"
//                          and waits to be killed
//   ring_peer NAME UID     the same as user UID (started as root); prints why connect fails

#include "host/ring/video_ring_buffer_writer.h"

#include <cstdio>
#include <cstdlib>
#include <grp.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    const int uid = argc == 3 ? std::atoi(argv[2]) : -1;
    if (uid >= 0 && (::setgroups(0, nullptr) != 0 || ::setgid(gid_t(uid)) != 0 || ::setuid(uid_t(uid)) != 0))
        return 4;
    Vardel::VideoRingBufferWriter writer;
    if (argc < 2 || argc > 3 || !writer.connect(argv[1], 2, 4096)) {
        std::printf("%s\n", writer.lastError().c_str());
        return 2;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
