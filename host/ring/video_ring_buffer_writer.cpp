#include "host/ring/video_ring_buffer_writer.h"

#include "host/logging_service.h"
#include "host/ring/futex.h"
#include "host/ring/region_owner.h"

#include <chrono>
#include <cstddef>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <unistd.h>

namespace Vardel {

VideoRingBufferWriter::~VideoRingBufferWriter() { disconnect(); }

bool VideoRingBufferWriter::connect(const std::string& name, unsigned int slotCount, unsigned int slotBytes)
{
    if (open(name, slotCount, slotBytes))
        return true;
    // The plug-in learns only that it failed: the host's log says why.
    LoggingService::instance()->error(QStringLiteral("Ring"), QString::fromStdString(error_));
    return false;
}

bool VideoRingBufferWriter::open(const std::string& name, unsigned int slotCount, unsigned int slotBytes)
{
    disconnect();
    error_.clear();
    const auto object = ring::objectName(name);
    const auto geometry = ring::makeGeometry(slotCount, slotBytes);
    if (!object || !geometry) {
        error_ = !object ? "invalid ring name '" + name + "'" : "invalid ring geometry";
        return false;
    }
    objectName_ = *object;
    geometry_ = *geometry;
    const Existing existing = adoptExisting();
    if (existing == Existing::Refused || (existing == Existing::None && !create())) {
        disconnect();
        return false;
    }
    shm::populate(mapping_, shm::Access::ReadWrite);
    warmer_.start(mapping_.data(), mapping_.size());
    takeOver(existing == Existing::None);
    return true;
}

VideoRingBufferWriter::Existing VideoRingBufferWriter::adoptExisting()
{
    std::string ignored;
    UniqueFd fd = shm::openExisting(objectName_, shm::Access::ReadWrite, ignored);
    // One this user may not even open still has an owner to name.
    const auto who = fd ? owner::of(fd.get()) : owner::ofObject(objectName_);
    if (!who)
        return Existing::None;
    if (!owner::privateToMe(*who)) {
        // Another user's region, or one others may open, is never mapped for writing: whoever
        // else can open it would see the camera, or write frames of their own into it. Removed
        // where the system lets us (our own, or as root), refused otherwise.
        fd.reset();
        if (shm::unlink(objectName_))
            return Existing::None;
        error_ = "ring " + objectName_ + " belongs to " + owner::describeUser(who->uid)
            + (who->uid == owner::myUid() ? " but is open to other users" : ", another user")
            + ", and cannot be removed: not connected";
        return Existing::Refused;
    }
    if (!fd)
        return Existing::None; // the create says why
    // The control block is read with pread, not through a mapping: nothing is mapped for
    // writing before its writer is known to be gone.
    std::uint8_t block[sizeof(ring::Control)] = {};
    const std::int64_t size = shm::objectSize(fd.get());
    const bool readable = ::pread(fd.get(), block, sizeof block, 0) == ssize_t(sizeof block);
    std::int32_t writer = 0;
    std::memcpy(&writer, block + offsetof(ring::Control, writerPid), sizeof writer);
    // A writer's pid is in place before its magic: a region still being built is refused too.
    if (readable && writer != ::getpid() && owner::processAlive(writer)) {
        error_ = "ring " + objectName_ + " is being written by process " + std::to_string(writer);
        return Existing::Refused;
    }
    ring::FixedHeader header{};
    std::memcpy(&header, block, sizeof header);
    const auto found = readable ? ring::validateHeader(header, std::uint64_t(size), ignored) : std::nullopt;
    // One of the same geometry is taken over in place, so that readers attached to it (across
    // a host restart, say) keep receiving frames.
    if (found && found->slotCount == geometry_.slotCount && found->slotBytes == geometry_.slotBytes
        && std::uint64_t(size) == geometry_.regionBytes && mapGuarded(std::move(fd))) {
        // Claimed in one step: of two writers taking over a dead one's region, one goes on.
        // acq_rel: the takeover's stores below stay after the claim.
        std::int32_t expected = writer;
        if (control().writerPid.compare_exchange_strong(expected, ::getpid(), std::memory_order_acq_rel))
            return Existing::TakenOver;
        error_ = "ring " + objectName_ + " is being written by process " + std::to_string(expected);
        return Existing::Refused;
    }
    // A region left behind with another geometry or unreadable contents is replaced.
    shm::unlink(objectName_);
    return Existing::None;
}

bool VideoRingBufferWriter::create()
{
    UniqueFd fd = shm::createExclusive(objectName_, geometry_.regionBytes, error_);
    if (!fd)
        return false;
    if (!mapGuarded(std::move(fd))) {
        shm::unlink(objectName_);
        return false;
    }
    // The object is new and zero-filled; building the control block in place is safe. The
    // writer's pid goes in at once: another writer started now finds the region taken.
    new (&control()) ring::Control{};
    for (std::uint32_t i = 0; i < geometry_.slotCount; ++i)
        new (&descriptor(i)) ring::SlotDescriptor{};
    control().writerPid.store(::getpid(), std::memory_order_release);
    return true;
}

bool VideoRingBufferWriter::mapGuarded(UniqueFd fd)
{
    mapping_ = shm::map(fd.get(), 0, geometry_.regionBytes, shm::Access::ReadWrite, error_);
    if (!mapping_)
        return false;
    fd_ = std::move(fd);
    // Guarded before the first touch: the region may be cut short under us at any time.
    guard_ = GuardedRange(mapping_.data(), mapping_.size(), PROT_READ | PROT_WRITE);
    return true;
}

void VideoRingBufferWriter::takeOver(bool freshRegion)
{
    control_ = &control();
    if (freshRegion) {
        control_->fixed.version = ring::kVersion;
        control_->fixed.slotCount = geometry_.slotCount;
        control_->fixed.slotBytes = geometry_.slotBytes;
        control_->fixed.dataOffset = geometry_.dataOffset;
        control_->fixed.regionBytes = geometry_.regionBytes;
    }
    epoch_ = std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^ std::uint64_t(::getpid());
    control_->captureActive.store(0, std::memory_order_relaxed);
    control_->latestFrame.store(0, std::memory_order_relaxed);
    for (std::uint32_t i = 0; i < geometry_.slotCount; ++i) {
        auto& d = descriptor(i);
        // Keep the sequence moving forward (a reader may be in the middle of this slot)
        // but leave it even, and mark the slot as holding no frame.
        const std::uint64_t seq = d.sequence.load(std::memory_order_relaxed);
        d.sequence.store((seq | 1) + 1, std::memory_order_relaxed);
        d.header[0].store(0, std::memory_order_relaxed);
    }
    // Release: a reader that sees the new epoch or the magic sees the state above.
    control_->epoch.store(epoch_, std::memory_order_release);
    std::atomic_ref<std::uint64_t>(control_->fixed.magic).store(ring::kMagic, std::memory_order_release);
    published_ = 0;
    acquired_.reset();
    // Waiters of the previous writer re-check the ring.
    control_->wakeWord.fetch_add(1, std::memory_order_seq_cst);
    futex::wakeAll(control_->wakeWord);
}

void VideoRingBufferWriter::disconnect()
{
    warmer_.stop();
    if (control_) {
        control_->captureActive.store(0, std::memory_order_release);
        // Leave the name alone if another writer has taken the region over since.
        if (control_->epoch.load(std::memory_order_acquire) == epoch_) {
            control_->writerPid.store(0, std::memory_order_release);
            shm::unlink(objectName_);
        }
        control_->wakeWord.fetch_add(1, std::memory_order_seq_cst);
        futex::wakeAll(control_->wakeWord);
    }
    control_ = nullptr;
    lost_ = false;
    guard_.reset();
    mapping_.reset();
    fd_.reset();
    acquired_.reset();
}

bool VideoRingBufferWriter::regionLost()
{
    // A region truncated by another process faults at the first frame written past its new
    // end; the guard answers that fault and marks the range lost, so the frame path needs
    // no system call of its own to notice. Lost stays lost until the next connect.
    if (!lost_ && guard_.lost()) {
        lost_ = true;
        error_ = "region " + objectName_ + " was cut short by another process";
    }
    return lost_;
}

ring::Control& VideoRingBufferWriter::control() const
{
    return *reinterpret_cast<ring::Control*>(mapping_.data());
}

ring::SlotDescriptor& VideoRingBufferWriter::descriptor(std::uint64_t slot) const
{
    auto* first = reinterpret_cast<ring::SlotDescriptor*>(mapping_.data() + sizeof(ring::Control));
    return first[slot];
}

std::optional<WriteSlot> VideoRingBufferWriter::acquireWriteSlot()
{
    if (!control_ || regionLost())
        return std::nullopt;
    if (acquired_)
        cancelWrite(*acquired_);
    const std::uint64_t slot = published_ % geometry_.slotCount;
    auto& d = descriptor(slot);
    d.sequence.store(d.sequence.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    // Full fence: the odd sequence must be visible before any byte of the slot changes,
    // whatever kind of store (non-temporal included) the producer uses.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    acquired_ = slot;
    return WriteSlot{slot, mapping_.data() + geometry_.dataOffset + slot * geometry_.slotStride, geometry_.slotBytes};
}

void VideoRingBufferWriter::releaseWriteSlot(std::uint64_t slotIndex, const FrameSlot& frame)
{
    if (!control_ || acquired_ != slotIndex)
        return;
    FrameSlot stamped = frame;
    stamped.frameNumber = published_ + 1;
    std::uint64_t words[sizeof(FrameSlot) / 8];
    std::memcpy(words, &stamped, sizeof words);
    auto& d = descriptor(slotIndex);
    for (std::size_t i = 0; i < std::size(words); ++i)
        d.header[i].store(words[i], std::memory_order_relaxed);
    // Every pixel store of the producer is complete before the slot reads as published.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    d.sequence.store(d.sequence.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    control_->latestFrame.store(stamped.frameNumber, std::memory_order_release);
    published_ = stamped.frameNumber;
    acquired_.reset();
}

void VideoRingBufferWriter::cancelWrite(std::uint64_t slotIndex)
{
    if (!control_ || acquired_ != slotIndex)
        return;
    auto& d = descriptor(slotIndex);
    // The slot's old frame may be partly overwritten: it no longer holds a frame.
    d.header[0].store(0, std::memory_order_relaxed);
    d.sequence.store(d.sequence.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    acquired_.reset();
}

void VideoRingBufferWriter::signalAllFrameEvents()
{
    if (!control_)
        return;
    // seq_cst pairs with the reader's sleepers increment: either the reader sees the
    // new word and does not sleep, or this load sees the sleeper and wakes it.
    control_->wakeWord.fetch_add(1, std::memory_order_seq_cst);
    if (control_->sleepers.load(std::memory_order_seq_cst) != 0)
        futex::wakeAll(control_->wakeWord);
}

void VideoRingBufferWriter::setCaptureActive(bool active)
{
    if (control_)
        control_->captureActive.store(active ? 1 : 0, std::memory_order_release);
}

} // namespace Vardel
