// A writer in a process of its own, for the ring tests.
//   ring_peer NAME          connects a writer to ring NAME (2 slots of 4096 bytes), prints "ready"
//                           and waits to be killed
//   ring_peer NAME refused  the same, and once it reads a line, publishes a frame longer than its slot
//   ring_peer NAME UID      the same as user UID (started as root); prints why connect fails

#include "host/ring/video_ring_buffer_writer.h"

#include <cstdio>
#include <cstdlib>
#include <grp.h>
#include <string_view>
#include <unistd.h>

int main(int argc, char** argv)
{
    const std::string_view mode = argc == 3 ? argv[2] : "";
    const int uid = mode.empty() || mode == "refused" ? -1 : std::atoi(argv[2]);
    if (uid >= 0 && (::setgroups(0, nullptr) != 0 || ::setgid(gid_t(uid)) != 0 || ::setuid(uid_t(uid)) != 0))
        return 4;
    Vardel::VideoRingBufferWriter writer;
    if (argc < 2 || argc > 3 || !writer.connect(argv[1], 2, 4096)) {
        std::printf("%s\n", writer.lastError().c_str());
        return 2;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    if (mode == "refused" && std::getchar() != EOF) {
        const auto slot = writer.acquireWriteSlot();
        writer.releaseWriteSlot(slot->slotIndex, {.width = 64, .height = 64, .channels = 3, .stride = 192, .dataSize = 12288});
        writer.signalAllFrameEvents();
    }
    for (;;)
        ::pause();
}
