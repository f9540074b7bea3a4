// The shared-memory ring: what a reader accepts of a region and of a frame header, frames
// overwritten while they are copied, a region another process cuts short or writes over,
// and a writer killed outright and restarted.

#include "capture/frame_header.h"
#include "helpers/unique_names.h"
#include "host/ring/ring_layout.h"
#include "host/ring/video_ring_buffer_reader.h"
#include "host/ring/video_ring_buffer_writer.h"

#include <QProcess>
#include <QTest>

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <signal.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

using namespace Vardel;
using namespace std::chrono_literals;
using Reader = VideoRingBufferReader;

namespace {

// Frame `value`: every byte holds value, which the header carries as its timestamp.
void publish(VideoRingBufferWriter& writer, FrameSlot header, std::uint8_t value)
{
    auto slot = writer.acquireWriteSlot();
    QVERIFY(slot);
    std::memset(slot->data, value, std::min<std::uint64_t>(header.dataSize, slot->capacity));
    header.timestampNs = value;
    writer.releaseWriteSlot(slot->slotIndex, header);
    writer.signalAllFrameEvents();
}

// A frame read whole: all its bytes agree with its header.
bool readWhole(Reader& reader)
{
    FrameSlot header;
    std::vector<std::uint8_t> pixels;
    return reader.readLatest(header, pixels) == Reader::ReadResult::Frame
        && pixels[0] == std::uint8_t(header.timestampNs) && !std::memcmp(pixels.data(), pixels.data() + 1, pixels.size() - 1);
}

} // namespace

class RingBufferTest : public QObject {
    Q_OBJECT

private slots:
    void regionHeaderChecks_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<std::uint64_t>("value");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("sound") << -1 << std::uint64_t(0) << true;
        QTest::newRow("object a byte short") << 5 << std::uint64_t(1) << false;
        QTest::newRow("magic") << 0 << std::uint64_t(1) << false;
        QTest::newRow("version") << 1 << std::uint64_t(2) << false;
        QTest::newRow("no slots") << 2 << std::uint64_t(0) << false;
        QTest::newRow("slots too large") << 3 << ring::kMaxSlotBytes + 1 << false;
        QTest::newRow("data over the descriptors") << 4 << std::uint64_t(64) << false;
    }

    void regionHeaderChecks()
    {
        QFETCH(int, field);
        QFETCH(std::uint64_t, value);
        QFETCH(bool, accepted);
        const auto g = *ring::makeGeometry(8, 1 << 20);
        ring::FixedHeader h{ring::kMagic, ring::kVersion, 8, 1 << 20, g.dataOffset, g.regionBytes};
        std::uint64_t objectBytes = g.regionBytes;
        if (field == 0)
            h.magic = value;
        else if (field == 1)
            h.version = std::uint32_t(value);
        else if (field == 2)
            h.slotCount = std::uint32_t(value);
        else if (field == 3)
            h.slotBytes = value;
        else if (field == 4)
            h.dataOffset = value;
        else if (field == 5)
            objectBytes -= value;
        std::string error;
        QCOMPARE(ring::validateHeader(h, objectBytes, error).has_value(), accepted);
        QCOMPARE(error.empty(), accepted);
    }

    void frameHeadersThatDoNotFitAreRefused_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("stride");
        QTest::addColumn<bool>("fits");
        QTest::newRow("fills the slot") << 32 << 96 << true;
        QTest::newRow("more than the slot") << 64 << 192 << false;
        QTest::newRow("rows longer than the stride") << 32 << 48 << false;
    }

    void frameHeadersThatDoNotFitAreRefused()
    {
        QFETCH(int, width);
        QFETCH(int, stride);
        QFETCH(bool, fits);
        const std::string name = testing::uniqueRingName("header");
        VideoRingBufferWriter writer;
        QVERIFY(writer.connect(name, 3, 32 * 96));
        Reader reader;
        QVERIFY(reader.attach(name));
        FrameSlot header = bgrFrameHeader(width, 32);
        header.stride = stride;
        header.dataSize = stride * 32;
        publish(writer, header, 7); // an overlong copy would not fault: more slots lie behind
        std::vector<std::uint8_t> pixels;
        QCOMPARE(reader.readLatest(header, pixels), fits ? Reader::ReadResult::Frame : Reader::ReadResult::Invalid);
    }

    void aFrameOverwrittenWhileCopiedIsNeverHandedOut()
    {
        // One slot, so every frame is written over the one the reader copies. The writer
        // waits until the reader has the newest frame; while it prepares the next, the reader
        // copies that frame again, and the writer's first stores land in the middle of it.
        const std::string name = testing::uniqueRingName("torn");
        const FrameSlot header = bgrFrameHeader(512, 512);
        VideoRingBufferWriter writer;
        QVERIFY(writer.connect(name, 1, header.dataSize));
        Reader reader;
        QVERIFY(reader.attach(name));
        constexpr int kFrames = 200;
        std::atomic<int> newest{0}; // the newest frame the reader holds (release/acquire: hands the turn over)
        std::jthread producer([&] {
            std::vector<std::uint8_t> next(header.dataSize);
            for (int frame = 1; frame <= kFrames; ++frame) {
                while (newest.load(std::memory_order_acquire) != frame - 1)
                    std::this_thread::yield();
                std::memset(next.data(), frame, next.size());
                auto slot = writer.acquireWriteSlot();
                // Its last bytes first: a copy that started before sees them changed.
                std::memcpy(slot->data + next.size() - 64, next.data(), 64);
                std::memcpy(slot->data, next.data(), next.size() - 64);
                FrameSlot stamped = header;
                stamped.timestampNs = std::uint8_t(frame);
                writer.releaseWriteSlot(slot->slotIndex, stamped);
            }
        });
        FrameSlot got;
        std::vector<std::uint8_t> pixels;
        int bad = 0;
        while (newest.load(std::memory_order_relaxed) < kFrames) {
            if (reader.readLatest(got, pixels) != Reader::ReadResult::Frame)
                continue;
            bad += pixels.front() != std::uint8_t(got.timestampNs) || pixels.back() != pixels.front();
            newest.store(int(got.frameNumber), std::memory_order_release);
        }
        QCOMPARE(bad, 0);
    }

    void aRegionDamagedByAnotherProcessIsRefusedAndRecreated_data()
    {
        QTest::addColumn<int>("cutTo"); // bytes left, or -1: the magic overwritten instead
        QTest::newRow("cut to nothing") << 0;
        QTest::newRow("slots cut off") << 4096;
        QTest::newRow("header overwritten") << -1;
    }

    void aRegionDamagedByAnotherProcessIsRefusedAndRecreated()
    {
        QFETCH(int, cutTo);
        const std::string name = testing::uniqueRingName("damaged");
        const FrameSlot header = bgrFrameHeader(32, 32);
        VideoRingBufferWriter writer;
        QVERIFY(writer.connect(name, 2, header.dataSize));
        Reader reader, late;
        QVERIFY(reader.attach(name));
        publish(writer, header, 1);
        QVERIFY(readWhole(reader));

        const int fd = ::shm_open(("/" + name).c_str(), O_RDWR, 0);
        QVERIFY(fd >= 0);
        const std::uint64_t zero = 0;
        QVERIFY(cutTo >= 0 ? ::ftruncate(fd, cutTo) == 0 : ::pwrite(fd, &zero, 8, 0) == 8);
        ::close(fd);
        // The writer's next frame lands past the cut: it must not end the process.
        publish(writer, header, 2);
        QCOMPARE(writer.acquireWriteSlot().has_value(), cutTo < 0);
        QVERIFY(!readWhole(reader));
        QCOMPARE(reader.waitForFrame(30s), Reader::WaitResult::WriterGone);
        QVERIFY(!late.attach(name));

        // Connected again, the writer makes a sound region.
        QVERIFY(writer.connect(name, 2, header.dataSize));
        QVERIFY(late.attach(name));
        publish(writer, header, 3);
        QVERIFY(readWhole(late));
    }

    void aKilledWriterIsNoticedAndItsSuccessorFollowed()
    {
        const std::string name = testing::uniqueRingName("killed");
        QProcess peer;
        peer.start(QCoreApplication::applicationDirPath() + QStringLiteral("/ring_peer"),
                   {QStringLiteral("hold"), QString::fromStdString(name)});
        QVERIFY(peer.waitForReadyRead(30000));
        Reader reader;
        QVERIFY(reader.attach(name));
        auto waiting = std::async(std::launch::async, [&] { return reader.waitForFrame(30s); });
        ::kill(pid_t(peer.processId()), SIGKILL);
        QVERIFY(peer.waitForFinished(5000)); // reaped: no process is left under its id
        // Nobody wakes the waiter: it must look at the writer on its own, long before 30 s.
        QCOMPARE(waiting.wait_for(5s), std::future_status::ready);
        QCOMPARE(waiting.get(), Reader::WaitResult::WriterGone);

        // A new writer takes the region over in place: the reader follows without attaching again.
        VideoRingBufferWriter successor;
        QVERIFY(successor.connect(name, 2, 4096));
        publish(successor, bgrFrameHeader(16, 16), 4);
        QCOMPARE(reader.waitForFrame(5s), Reader::WaitResult::Frame);
        QVERIFY(readWhole(reader));
    }
};

QTEST_GUILESS_MAIN(RingBufferTest)
#include "test_ring_buffer.moc"
