#include "helpers/test_frames.h"
#include "helpers/unique_names.h"
#include "host/ring/ring_layout.h"
#include "host/ring/shm_object.h"
#include "host/ring/video_ring_buffer_reader.h"
#include "host/ring/video_ring_buffer_writer.h"

#include <QProcess>
#include <QTest>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <random>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

using namespace Vardel;
using namespace std::chrono_literals;
using Reader = VideoRingBufferReader;

namespace {

void publish(VideoRingBufferWriter& writer, std::uint32_t width, std::uint32_t height, std::int64_t seed)
{
    auto slot = writer.acquireWriteSlot();
    QVERIFY(slot);
    const FrameSlot header = testing::patternHeader(width, height, seed);
    testing::fillPattern(slot->data, header);
    writer.releaseWriteSlot(slot->slotIndex, header);
    writer.signalAllFrameEvents();
}

// Leaves an object under name holding the given bytes, as a foreign program might.
void plantObject(const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    const std::string object = "/" + name;
    ::shm_unlink(object.c_str());
    const int fd = ::shm_open(object.c_str(), O_RDWR | O_CREAT, 0600);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    ::close(fd);
}

QString peerPath() { return QCoreApplication::applicationDirPath() + QStringLiteral("/ring_peer"); }

} // namespace

class RingBufferTest : public QObject {
    Q_OBJECT

private slots:
    void framesCrossProcessesIntact()
    {
        const std::string name = testing::uniqueRingName("cross");
        VideoRingBufferWriter writer;
        QVERIFY2(writer.connect(name, 8, 640 * 480 * 3), writer.lastError().c_str());

        QProcess peer;
        peer.start(peerPath(), {QStringLiteral("read"), QString::fromStdString(name), QStringLiteral("60"),
                                QStringLiteral("10000")});
        QVERIFY(peer.waitForStarted());
        // Publish at a steady pace until the reader has what it asked for.
        for (int i = 1; peer.state() != QProcess::NotRunning && i < 5000; ++i) {
            publish(writer, 640, 480, i);
            peer.waitForFinished(2);
        }
        QVERIFY(peer.state() == QProcess::NotRunning || peer.waitForFinished(10000));
        const QByteArray output = peer.readAllStandardOutput();
        QVERIFY2(peer.exitCode() == 0, output.constData());
        QVERIFY2(output.contains("bad=0"), output.constData());
    }

    void readerNeverReturnsATornFrame()
    {
        // The writer runs flat out over four small slots in another process, so slots are
        // constantly overwritten under the reader. Instrumented builds write far fewer
        // frames in the same time; eight seconds of them still overwrite slots constantly.
        const std::string name = testing::uniqueRingName("torn");
        QProcess peer;
        peer.start(peerPath(), {QStringLiteral("write"), QString::fromStdString(name), QStringLiteral("200000"),
                                QStringLiteral("96"), QStringLiteral("64"), QStringLiteral("8000")});
        QVERIFY(peer.waitForStarted());
        Reader reader;
        QTRY_VERIFY_WITH_TIMEOUT(reader.attach(name), 5000);

        FrameSlot header;
        std::vector<std::uint8_t> pixels;
        int frames = 0, mismatches = 0;
        std::uint64_t previous = 0;
        while (peer.state() != QProcess::NotRunning || reader.latestFrameNumber() != previous) {
            if (reader.readLatest(header, pixels) != Reader::ReadResult::Frame) {
                if (peer.state() == QProcess::NotRunning)
                    break;
                continue;
            }
            if (testing::firstPatternMismatch(pixels.data(), header) >= 0 || header.frameNumber < previous)
                ++mismatches;
            previous = header.frameNumber;
            ++frames;
            if (frames % 64 == 0)
                QCoreApplication::processEvents();
        }
        peer.waitForFinished(30000);
        QCOMPARE(peer.exitCode(), 0);
        QCOMPARE(mismatches, 0);
        QVERIFY(frames > 100);
    }

    void waitWakesOnPublishAndTimesOut()
    {
        const std::string name = testing::uniqueRingName("wait");
        VideoRingBufferWriter writer;
        QVERIFY(writer.connect(name, 2, 4096));
        Reader reader;
        QVERIFY(reader.attach(name));

        auto started = std::chrono::steady_clock::now();
        QCOMPARE(reader.waitForFrame(100ms), Reader::WaitResult::Timeout);
        QVERIFY(std::chrono::steady_clock::now() - started >= 100ms);

        auto waiting = std::async(std::launch::async, [&] { return reader.waitForFrame(10s); });
        std::this_thread::sleep_for(50ms);
        started = std::chrono::steady_clock::now();
        publish(writer, 16, 16, 1);
        QCOMPARE(waiting.get(), Reader::WaitResult::Frame);
        QVERIFY(std::chrono::steady_clock::now() - started < 2s);

        FrameSlot header;
        std::vector<std::uint8_t> pixels;
        QCOMPARE(reader.readLatest(header, pixels), Reader::ReadResult::Frame);
        QCOMPARE(header.frameNumber, std::uint64_t(1));
        // The frame just read is not "new" any more.
        QCOMPARE(reader.waitForFrame(20ms), Reader::WaitResult::Timeout);
    }

    void writerGoneIsReported()
    {
        const std::string name = testing::uniqueRingName("gone");
        auto writer = std::make_unique<VideoRingBufferWriter>();
        QVERIFY(writer->connect(name, 2, 4096));
        Reader reader;
        QVERIFY(reader.attach(name));
        QVERIFY(reader.writerAlive());
        auto waiting = std::async(std::launch::async, [&] { return reader.waitForFrame(10s); });
        std::this_thread::sleep_for(30ms);
        writer.reset();
        QCOMPARE(waiting.get(), Reader::WaitResult::WriterGone);
        QVERIFY(!reader.writerAlive());
        Reader late;
        QVERIFY(!late.attach(name));
    }

    void slotsAreHandedOutInOrderAndCancelPublishesNothing()
    {
        VideoRingBufferWriter unconnected;
        QVERIFY(!unconnected.acquireWriteSlot());

        const std::string name = testing::uniqueRingName("cancel");
        VideoRingBufferWriter writer;
        QVERIFY(writer.connect(name, 3, 4096));
        Reader reader;
        QVERIFY(reader.attach(name));

        auto slot = writer.acquireWriteSlot();
        QVERIFY(slot);
        QCOMPARE(slot->slotIndex, std::uint64_t(0));
        QCOMPARE(slot->capacity, std::uint64_t(4096));
        writer.cancelWrite(slot->slotIndex);
        QCOMPARE(reader.latestFrameNumber(), std::uint64_t(0));
        FrameSlot header;
        std::vector<std::uint8_t> pixels;
        QCOMPARE(reader.readLatest(header, pixels), Reader::ReadResult::NoFrame);

        // A cancelled slot is handed out again; published frames advance the ring.
        for (std::uint64_t expected : {0, 1, 2, 0}) {
            auto next = writer.acquireWriteSlot();
            QCOMPARE(next->slotIndex, expected);
            writer.releaseWriteSlot(next->slotIndex, testing::patternHeader(4, 4, 0));
        }
        QCOMPARE(reader.readLatest(header, pixels), Reader::ReadResult::Frame);
        QCOMPARE(header.frameNumber, std::uint64_t(4));

        // A frame whose header claims more than a slot holds is refused, not read past the slot.
        auto slotForBadFrame = writer.acquireWriteSlot();
        writer.releaseWriteSlot(slotForBadFrame->slotIndex, testing::patternHeader(4096, 4096, 0));
        QCOMPARE(reader.readLatest(header, pixels), Reader::ReadResult::Invalid);
    }

    void foreignRegionsAreRefusedAndReplaced_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("tiny") << 0;
        QTest::newRow("random bytes") << 1;
        QTest::newRow("valid header, object too small") << 2;
        QTest::newRow("header disagrees with geometry") << 3;
    }

    void foreignRegionsAreRefusedAndReplaced()
    {
        QFETCH(int, kind);
        const std::string name = testing::uniqueRingName("foreign");
        const auto geometry = *ring::makeGeometry(2, 8192);
        std::vector<std::uint8_t> bytes;
        if (kind == 0) {
            bytes.assign(10, 0xab);
        } else if (kind == 1) {
            std::mt19937 random(42);
            bytes.resize(geometry.regionBytes);
            for (auto& b : bytes)
                b = std::uint8_t(random());
        } else {
            ring::FixedHeader header{ring::kMagic, ring::kVersion, 2, 8192, geometry.dataOffset, geometry.regionBytes};
            if (kind == 3)
                header.dataOffset = 64; // would put the slots over the descriptors
            bytes.resize(kind == 2 ? geometry.dataOffset : geometry.regionBytes);
            std::memcpy(bytes.data(), &header, sizeof header);
        }
        plantObject(name, bytes);

        Reader reader;
        QVERIFY(!reader.attach(name));
        QVERIFY(!reader.lastError().empty());

        VideoRingBufferWriter writer;
        QVERIFY2(writer.connect(name, 2, 8192), writer.lastError().c_str());
        QVERIFY2(reader.attach(name), reader.lastError().c_str());
        publish(writer, 32, 32, 7);
        FrameSlot header;
        std::vector<std::uint8_t> pixels;
        QCOMPARE(reader.readLatest(header, pixels), Reader::ReadResult::Frame);
        QCOMPARE(testing::firstPatternMismatch(pixels.data(), header), std::int64_t(-1));
    }

    void aSecondWriterTakesOverWithoutCuttingOffReaders()
    {
        const std::string name = testing::uniqueRingName("takeover");
        auto first = std::make_unique<VideoRingBufferWriter>();
        QVERIFY(first->connect(name, 4, 4096));
        publish(*first, 8, 8, 1);
        Reader reader;
        QVERIFY(reader.attach(name));

        VideoRingBufferWriter second;
        QVERIFY(second.connect(name, 4, 4096));
        first.reset(); // must not unlink the region the second writer now holds
        QVERIFY(reader.writerAlive());
        publish(second, 8, 8, 2);
        FrameSlot header;
        std::vector<std::uint8_t> pixels;
        QCOMPARE(reader.waitForFrame(1s), Reader::WaitResult::Frame);
        QCOMPARE(reader.readLatest(header, pixels), Reader::ReadResult::Frame);
        QCOMPARE(header.timestampNs, std::int64_t(2));
        QCOMPARE(header.frameNumber, std::uint64_t(1));
    }

    void headerValidationRejectsOutOfRangeGeometry()
    {
        const auto good = *ring::makeGeometry(8, 16u << 20);
        ring::FixedHeader header{ring::kMagic, ring::kVersion, 8, 16u << 20, good.dataOffset, good.regionBytes};
        std::string error;
        QVERIFY(ring::validateHeader(header, good.regionBytes, error));

        auto rejected = [&](ring::FixedHeader h, std::uint64_t size) {
            std::string why;
            return !ring::validateHeader(h, size, why) && !why.empty();
        };
        QVERIFY(rejected(header, good.regionBytes - 1));
        auto h = header;
        h.version = 2;
        QVERIFY(rejected(h, good.regionBytes));
        h = header;
        h.slotCount = 0;
        QVERIFY(rejected(h, good.regionBytes));
        h.slotCount = ring::kMaxSlots + 1;
        QVERIFY(rejected(h, ~0ull));
        h = header;
        h.slotBytes = ring::kMaxSlotBytes + 1;
        QVERIFY(rejected(h, ~0ull));
        h = header;
        h.regionBytes = 1;
        QVERIFY(rejected(h, good.regionBytes));

        QVERIFY(!ring::objectName("a/b"));
        QCOMPARE(*ring::objectName("ring"), std::string("/ring"));
    }
};

QTEST_GUILESS_MAIN(RingBufferTest)
#include "test_ring_buffer.moc"
