#include "app/ring_monitor.h"

#include "capture/steady_clock.h"
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
    StatsAccumulator stats;
    FrameSlot header;
    std::vector<std::uint8_t> pixels;
    std::uint64_t lastFrame = 0, tornSeen = 0;
    auto intervalStart = std::chrono::steady_clock::now();

    while (!stopping_) {
        if (!reader.isAttached()) {
            // The ring appears when the plug-in initialises; keep looking.
            if (!reader.attach(ringName_)) {
                std::this_thread::sleep_for(100ms);
            } else {
                lastFrame = 0;
                tornSeen = 0;
            }
        } else {
            switch (reader.waitForFrame(50ms)) {
            case VideoRingBufferReader::WaitResult::WriterGone:
                reader.detach();
                break;
            case VideoRingBufferReader::WaitResult::Timeout:
                break;
            case VideoRingBufferReader::WaitResult::Frame:
                if (reader.readLatest(header, pixels) == VideoRingBufferReader::ReadResult::Frame) {
                    stats.frame(double(steadyNowNs() - header.timestampNs) / 1e6);
                    if (lastFrame != 0 && header.frameNumber > lastFrame + 1)
                        stats.skipped(header.frameNumber - lastFrame - 1);
                    lastFrame = header.frameNumber;
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
                break;
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - intervalStart >= 1s) {
            stats.torn(reader.tornReads() - tornSeen);
            tornSeen = reader.tornReads();
            RingStats figures = stats.summarise(std::chrono::duration<double>(now - intervalStart).count());
            figures.attached = reader.isAttached();
            figures.captureActive = reader.captureActive();
            intervalStart = now;
            emit secondElapsed(figures);
        }
    }
}

} // namespace Vardel
