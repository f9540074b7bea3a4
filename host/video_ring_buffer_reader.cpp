#include "host/video_ring_buffer_reader.h"

#include "host/futex.h"
#include "host/racing_copy.h"

#include <cerrno>
#include <cstring>
#include <signal.h>
#include <unistd.h>

namespace Vardel {

namespace {
constexpr int kReadAttempts = 4;
}

bool VideoRingBufferReader::attach(const std::string& name)
{
    detach();
    error_.clear();
    const auto object = ring::objectName(name);
    if (!object) {
        error_ = "invalid ring name '" + name + "'";
        return false;
    }
    UniqueFd fd = shm::openExisting(*object, shm::Access::ReadWrite, error_);
    if (!fd)
        return false;
    // The header is read with pread, not through a mapping: a region too small for it
    // cannot fault, and nothing is mapped before it has been checked.
    ring::FixedHeader header{};
    const std::int64_t size = shm::objectSize(fd.get());
    if (size < std::int64_t(sizeof(ring::Control))
        || ::pread(fd.get(), &header, sizeof header, 0) != ssize_t(sizeof header)) {
        error_ = "region " + *object + " is too small to hold a ring";
        return false;
    }
    const auto geometry = ring::validateHeader(header, std::uint64_t(size), error_);
    if (!geometry) {
        error_ = "region " + *object + ": " + error_;
        return false;
    }
    Mapping control = shm::map(fd.get(), 0, geometry->dataOffset, shm::Access::ReadWrite, error_);
    Mapping data = control ? shm::map(fd.get(), geometry->dataOffset, geometry->regionBytes - geometry->dataOffset,
                                      shm::Access::ReadOnly, error_)
                           : Mapping();
    if (!data)
        return false;
    shm::populate(data, shm::Access::ReadOnly);
    geometry_ = *geometry;
    fd_ = std::move(fd);
    controlMapping_ = std::move(control);
    dataMapping_ = std::move(data);
    warmer_.start(dataMapping_.data(), dataMapping_.size());
    control_ = reinterpret_cast<ring::Control*>(controlMapping_.data());
    epoch_ = control_->epoch.load(std::memory_order_acquire);
    // Only frames published from now on count as new.
    lastRead_ = control_->latestFrame.load(std::memory_order_acquire);
    torn_ = 0;
    return true;
}

void VideoRingBufferReader::detach()
{
    warmer_.stop();
    control_ = nullptr;
    dataMapping_.reset();
    controlMapping_.reset();
    fd_.reset();
    geometry_ = {};
    lastRead_ = 0;
}

const ring::SlotDescriptor& VideoRingBufferReader::descriptor(std::uint64_t slot) const
{
    auto* first = reinterpret_cast<const ring::SlotDescriptor*>(controlMapping_.data() + sizeof(ring::Control));
    return first[slot];
}

bool VideoRingBufferReader::captureActive() const
{
    return control_ && control_->captureActive.load(std::memory_order_acquire) != 0;
}

bool VideoRingBufferReader::writerAlive() const
{
    if (!control_ || shm::unlinked(fd_.get()))
        return false;
    const pid_t pid = control_->writerPid.load(std::memory_order_acquire);
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

std::uint64_t VideoRingBufferReader::latestFrameNumber() const
{
    return control_ ? control_->latestFrame.load(std::memory_order_acquire) : 0;
}

void VideoRingBufferReader::syncEpoch()
{
    const std::uint64_t epoch = control_->epoch.load(std::memory_order_acquire);
    if (epoch != epoch_) {
        epoch_ = epoch; // a new writer took the region over: its frame numbers start again
        lastRead_ = 0;
    }
}

VideoRingBufferReader::WaitResult VideoRingBufferReader::waitForFrame(std::chrono::nanoseconds timeout)
{
    if (!control_)
        return WaitResult::WriterGone;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto fresh = [this] {
        syncEpoch();
        const std::uint64_t latest = control_->latestFrame.load(std::memory_order_seq_cst);
        return latest != 0 && latest != lastRead_;
    };
    for (;;) {
        const std::uint32_t word = control_->wakeWord.load(std::memory_order_seq_cst);
        if (fresh())
            return WaitResult::Frame;
        const auto remaining = deadline - std::chrono::steady_clock::now();
        if (remaining <= std::chrono::nanoseconds::zero())
            return writerAlive() ? WaitResult::Timeout : WaitResult::WriterGone;
        // Announce the sleeper before the last look (pairs with the writer's seq_cst bump).
        control_->sleepers.fetch_add(1, std::memory_order_seq_cst);
        const bool sleep = !fresh();
        if (sleep)
            futex::wait(control_->wakeWord, word, remaining);
        control_->sleepers.fetch_sub(1, std::memory_order_seq_cst);
        // A wake without a frame is usually a writer leaving or taking over.
        if (sleep && !fresh() && !writerAlive())
            return WaitResult::WriterGone;
    }
}

VideoRingBufferReader::ReadResult VideoRingBufferReader::readLatest(FrameSlot& header, std::vector<std::uint8_t>& pixels)
{
    if (!control_)
        return ReadResult::Invalid;
    // A region cut short under us would fault on the copy; refuse it instead.
    if (shm::objectSize(fd_.get()) < std::int64_t(geometry_.regionBytes)) {
        error_ = "region was truncated";
        return ReadResult::Invalid;
    }
    syncEpoch();
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const std::uint64_t frameNumber = control_->latestFrame.load(std::memory_order_acquire);
        if (frameNumber == 0)
            return ReadResult::NoFrame;
        const std::uint64_t slot = (frameNumber - 1) % geometry_.slotCount;
        const auto& d = descriptor(slot);
        const std::uint64_t before = d.sequence.load(std::memory_order_acquire);
        if (before & 1) {
            ++torn_;
            continue;
        }
        std::uint64_t words[sizeof(FrameSlot) / 8];
        for (std::size_t i = 0; i < std::size(words); ++i)
            words[i] = d.header[i].load(std::memory_order_relaxed);
        FrameSlot candidate;
        std::memcpy(&candidate, words, sizeof candidate);
        if (candidate.frameNumber != frameNumber) {
            ++torn_;
            continue; // the slot was rewritten since latestFrame was read
        }
        if (!ring::frameHeaderFits(candidate, geometry_.slotBytes)) {
            error_ = "frame " + std::to_string(frameNumber) + " has an inconsistent header";
            return ReadResult::Invalid;
        }
        pixels.resize(candidate.dataSize);
        copyRacingBytes(pixels.data(), dataMapping_.data() + slot * geometry_.slotStride, candidate.dataSize);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (d.sequence.load(std::memory_order_relaxed) != before) {
            ++torn_;
            continue;
        }
        header = candidate;
        lastRead_ = frameNumber;
        return ReadResult::Frame;
    }
    return ReadResult::Torn;
}

} // namespace Vardel
