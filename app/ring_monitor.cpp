#include "app/ring_monitor.h"

#include "app/ring_reading.h"
#include "host/ring/ring_layout.h"
#include "host/ring/unique_fd.h"
#include "host/ring/video_ring_buffer_reader.h"

#include <chrono>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Vardel {

namespace {
// What tells a region from the one before it under the same name, without mapping it: the
// object, and the writer that took it over last.
struct RegionMark {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::uint64_t epoch = 0;
    std::int32_t writer = 0;
    bool operator==(const RegionMark&) const = default;
};

std::optional<RegionMark> markOf(const std::string& ringName)
{
    const auto object = ring::objectName(ringName);
    const UniqueFd fd(object ? ::shm_open(object->c_str(), O_RDONLY | O_CLOEXEC, 0) : -1);
    struct stat st {};
    std::uint8_t block[sizeof(ring::Control)];
    if (!fd || ::fstat(fd.get(), &st) != 0 || ::pread(fd.get(), block, sizeof block, 0) != ssize_t(sizeof block))
        return std::nullopt;
    RegionMark mark{st.st_dev, st.st_ino, st.st_size};
    std::memcpy(&mark.epoch, block + offsetof(ring::Control, epoch), sizeof mark.epoch);
    std::memcpy(&mark.writer, block + offsetof(ring::Control, writerPid), sizeof mark.writer);
    return mark;
}
} // namespace

RingMonitor::RingMonitor(std::string ringName, QObject* parent) : QObject(parent), ringName_(std::move(ringName))
{
    qRegisterMetaType<Vardel::RingStats>();
}

RingMonitor::~RingMonitor() { stop(); }

void RingMonitor::start()
{
    if (thread_.joinable())
        return;
    stopping_ = false;
    thread_ = std::thread(&RingMonitor::run, this);
}

void RingMonitor::stop()
{
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
}

bool RingMonitor::latestFrame(FrameSlot& header, std::vector<std::uint8_t>& pixels) const
{
    std::lock_guard lock(frameMutex_);
    if (!haveFrame_)
        return false;
    header = latestHeader_;
    pixels = latestPixels_;
    return true;
}

void RingMonitor::run()
{
    using namespace std::chrono_literals;
    VideoRingBufferReader reader;
    RingReading reading(reader, FrameChecker(FrameChecker::Expect::PackedFrames),
                        {[this](const FrameSlot& header, std::vector<std::uint8_t>& pixels) { keep(header, pixels); },
                         [](const QString&) {}, [this](const RingStats& stats) { emit secondElapsed(stats); }});
    // The region last found without a writer. An attach maps and warms all of it (about 15 ms
    // of CPU for the plug-in's 128 MiB), so it is not attached to again until a writer takes it
    // over or another region takes its name, which a look every tenth of a second notices.
    // Marked before the attach: a writer that takes it over meanwhile is not taken for the gone one.
    std::optional<RegionMark> abandoned;
    while (!stopping_) {
        // The ring appears when the plug-in initialises, and may come back after its
        // writer went: keep looking.
        const auto mark = markOf(ringName_);
        if (mark && mark != abandoned && reader.attach(ringName_)) {
            if (reading.readWhile([this] { return !stopping_; }, 50ms) == RingReading::End::WriterGone) {
                reader.detach();
                abandoned = mark;
            }
        } else {
            std::this_thread::sleep_for(100ms);
        }
        reading.tick();
    }
}

void RingMonitor::keep(const FrameSlot& header, std::vector<std::uint8_t>& pixels)
{
    total_.fetch_add(1, std::memory_order_relaxed);
    {
        std::lock_guard lock(frameMutex_);
        latestHeader_ = header;
        latestPixels_.swap(pixels);
        haveFrame_ = true;
    }
    if (!arrivalPending_.exchange(true))
        QMetaObject::invokeMethod(
            this, [this] { arrivalPending_ = false; emit frameArrived(); }, Qt::QueuedConnection);
}

} // namespace Vardel
