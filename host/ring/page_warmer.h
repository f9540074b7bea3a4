#pragma once

#include <cstddef>
#include <cstdint>
#include <thread>

namespace Vardel {

// Reads one byte of every page of a mapping on a thread of its own, soon after the
// mapping is made. Under some hypervisors the kernel's populate maps the pages for the
// guest only, and the translation the processor uses is built at the first access from
// user space, at several microseconds per page: without this, the first frame written
// into (or read from) each slot would pay for it. Off the caller's thread, because a
// whole ring takes a sizeable fraction of a second. Reads change nothing anyone can see.
class PageWarmer {
public:
    PageWarmer() = default;
    PageWarmer(const PageWarmer&) = delete;
    PageWarmer& operator=(const PageWarmer&) = delete;
    ~PageWarmer() { stop(); }

    // Starts on [data, data + bytes), after stopping any earlier run.
    void start(const std::uint8_t* data, std::size_t bytes);
    // Returns once the memory is no longer read: call it before unmapping.
    void stop();

private:
    std::jthread thread_;
};

} // namespace Vardel
