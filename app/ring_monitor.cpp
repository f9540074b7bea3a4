#include "app/ring_monitor.h"

#include "app/ring_reading.h"
#include "host/ring/video_ring_buffer_reader.h"

#include <chrono>

namespace Vardel {

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
    while (!stopping_) {
        // The ring appears when the plug-in initialises, and may come back after its
        // writer went: keep looking.
        if (reader.attach(ringName_)) {
            if (reading.readWhile([this] { return !stopping_; }, 50ms) == RingReading::End::WriterGone)
                reader.detach();
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
