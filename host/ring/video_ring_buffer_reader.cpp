#include "host/ring/video_ring_buffer_reader.h"

#include "host/ring/futex.h"
#include "host/ring/racing_copy.h"
#include "host/ring/region_owner.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <signal.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace Vardel {

namespace {
constexpr int kReadAttempts = 4;
// A writer killed outright wakes nobody: a waiter looks at it this often.
constexpr std::chrono::nanoseconds kLivenessCheck = std::chrono::milliseconds(100);
} // namespace

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
    // Frames and frame numbers of a region another user made are theirs to choose.
    const unsigned expected = expectedOwner_.value_or(owner::myUid());
    if (const auto who = owner::of(fd.get()); !who || who->uid != expected) {
        error_ = "region " + *object + " belongs to " + (who ? owner::describeUser(who->uid) : "an unknown user")
            + ", not to " + owner::describeUser(expected) + ": not attached";
        return false;
    }
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
    geometry_ = *geometry;
    fd_ = std::move(fd);
    controlMapping_ = std::move(control);
    dataMapping_ = std::move(data);
    // Guarded before the first touch: the region may be cut short under us at any time.
    controlGuard_ = GuardedRange(controlMapping_.data(), controlMapping_.size(), PROT_READ | PROT_WRITE);
    dataGuard_ = GuardedRange(dataMapping_.data(), dataMapping_.size(), PROT_READ);
    shm::populate(dataMapping_, shm::Access::ReadOnly);
    warmer_.start(dataMapping_.data(), dataMapping_.size());
    control_ = reinterpret_cast<ring::Control*>(controlMapping_.data());
    epoch_ = control_->epoch.load(std::memory_order_acquire);
    // Only frames published from now on count as new.
    lastRead_ = control_->latestFrame.load(std::memory_order_acquire);
    torn_ = 0;
    return true;
}

bool VideoRingBufferReader::attachBy(const std::string& name, std::chrono::steady_clock::time_point deadline)
{
    while (!attach(name)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void VideoRingBufferReader::detach()
{
    warmer_.stop();
    control_ = nullptr;
    dataGuard_.reset();
    controlGuard_.reset();
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

const char* VideoRingBufferReader::damage() const
{
    if (controlGuard_.lost() || dataGuard_.lost() || shm::objectSize(fd_.get()) < std::int64_t(geometry_.regionBytes))
        return "region was cut short by another process";
    if (std::atomic_ref<std::uint64_t>(control_->fixed.magic).load(std::memory_order_acquire) != ring::kMagic)
        return "region header was overwritten by another process";
    return nullptr;
}

bool VideoRingBufferReader::writerAlive() const
{
    if (!control_ || shm::unlinked(fd_.get()) || damage())
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
    // A region cut short or written over holds no frame worth waiting for: attach again.
    if (!control_ || damage())
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
            futex::wait(control_->wakeWord, word, std::min<std::chrono::nanoseconds>(remaining, kLivenessCheck));
        control_->sleepers.fetch_sub(1, std::memory_order_seq_cst);
        // A wake without a frame is usually a writer leaving or taking over; no wake at all
        // may be a writer that was killed.
        if (sleep && !fresh() && !writerAlive())
            return WaitResult::WriterGone;
    }
}

VideoRingBufferReader::ReadResult VideoRingBufferReader::readLatest(FrameSlot& header, std::vector<std::uint8_t>& pixels)
{
    if (!control_)
        return ReadResult::Invalid;
    // A region cut short would fault on the copy, one written over is no ring any more:
    // refuse both (a cut that comes during the copy is caught by the guards, below).
    if (const char* why = damage()) {
        error_ = why;
        return ReadResult::Invalid;
    }
    syncEpoch();
    std::uint64_t frameNumber = 0;
    // A frame refused or torn here counts as seen: waitForFrame then waits for the writer's
    // next one instead of answering at once for a header that stays as it is (a writer that
    // died in the middle of a frame, a foreign region).
    const auto seen = [&](ReadResult result) {
        lastRead_ = frameNumber;
        return result;
    };
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        frameNumber = control_->latestFrame.load(std::memory_order_acquire);
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
            return seen(ReadResult::Invalid);
        }
        pixels.resize(candidate.dataSize);
        copyRacingBytes(pixels.data(), dataMapping_.data() + slot * geometry_.slotStride, candidate.dataSize);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (controlGuard_.lost() || dataGuard_.lost()) {
            error_ = "region was cut short by another process";
            return ReadResult::Invalid; // the copy read zero pages
        }
        if (d.sequence.load(std::memory_order_relaxed) != before) {
            ++torn_;
            continue;
        }
        header = candidate;
        return seen(ReadResult::Frame);
    }
    return seen(ReadResult::Torn);
}

} // namespace Vardel
