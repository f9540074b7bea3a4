#include "host/ring/page_warmer.h"

#include <system_error>
#include <unistd.h>

namespace Vardel {

namespace {
// The pages are the writer's slots, which a frame thread may be filling meanwhile: the
// reads race with those stores on purpose and their values are thrown away.
__attribute__((no_sanitize("thread"))) void touchPages(const std::uint8_t* data, std::size_t bytes,
                                                       std::stop_token stop)
{
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    constexpr std::size_t kPagesBetweenChecks = 64;
    const auto* bytesOf = static_cast<const volatile std::uint8_t*>(data);
    for (std::size_t offset = 0, n = 0; offset < bytes; offset += page, ++n) {
        if (n % kPagesBetweenChecks == 0 && stop.stop_requested())
            return;
        (void)bytesOf[offset];
    }
}
} // namespace

void PageWarmer::start(const std::uint8_t* data, std::size_t bytes)
{
    stop();
    try {
        thread_ = std::jthread([data, bytes](std::stop_token stop) { touchPages(data, bytes, stop); });
    } catch (const std::system_error&) {
        // No thread to spare: the pages are still mapped, only their first use costs more.
    }
}

void PageWarmer::stop()
{
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
}

} // namespace Vardel
