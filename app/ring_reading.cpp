#include "app/ring_reading.h"

#include "capture/steady_clock.h"
#include "host/ring/video_ring_buffer_reader.h"

namespace Vardel {

RingReading::RingReading(VideoRingBufferReader& reader, FrameChecker checker, Handlers handlers)
    : reader_(reader), checker_(checker), handlers_(std::move(handlers))
{
}

RingReading::End RingReading::readWhile(const std::function<bool()>& keepGoing, std::chrono::milliseconds wait)
{
    tornSeen_ = reader_.tornReads();
    while (keepGoing()) {
        switch (reader_.waitForFrame(wait)) {
        case VideoRingBufferReader::WaitResult::WriterGone:
            return End::WriterGone;
        case VideoRingBufferReader::WaitResult::Timeout:
            break;
        case VideoRingBufferReader::WaitResult::Frame:
            readOne();
            break;
        }
        tick();
    }
    return End::Stopped;
}

void RingReading::readOne()
{
    // The frames published after the last one the reader looked at (the newest when it
    // attached, nothing when a new writer took the ring over) that it does not read now
    // were missed; those before its attach were never its to read.
    const std::uint64_t looked = reader_.lastReadFrameNumber();
    const auto result = reader_.readLatest(header_, pixels_);
    if (result == VideoRingBufferReader::ReadResult::Invalid) {
        handlers_.problem(QStringLiteral("refused: %1").arg(QString::fromStdString(reader_.lastError())));
        ++totals_.bad;
        second_.bad();
        return;
    }
    if (result != VideoRingBufferReader::ReadResult::Frame)
        return;
    second_.frame(double(steadyNowNs() - header_.timestampNs) / 1e6);
    ++totals_.frames;
    if (header_.frameNumber > looked + 1) {
        totals_.skipped += header_.frameNumber - looked - 1;
        second_.skipped(header_.frameNumber - looked - 1);
    }
    if (const auto problem = checker_.check(header_, pixels_)) {
        handlers_.problem(QStringLiteral("bad frame: %1").arg(*problem));
        ++totals_.bad;
        second_.bad();
    }
    handlers_.frame(header_, pixels_);
}

void RingReading::tick()
{
    const auto now = std::chrono::steady_clock::now();
    if (now - secondStart_ < std::chrono::seconds(1))
        return;
    const std::uint64_t torn = reader_.tornReads() - tornSeen_;
    tornSeen_ = reader_.tornReads();
    totals_.torn += torn;
    second_.torn(torn);
    RingStats stats = second_.summarise(std::chrono::duration<double>(now - secondStart_).count());
    stats.attached = reader_.isAttached();
    stats.captureActive = reader_.captureActive();
    secondStart_ = now;
    handlers_.second(stats);
}

RingReading::Totals RingReading::totals() const
{
    Totals totals = totals_;
    totals.torn += reader_.tornReads() - tornSeen_;
    return totals;
}

} // namespace Vardel
