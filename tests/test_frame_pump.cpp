// The frame thread's two loops, writing into a real ring that a reader checks.

#include "capture/bar_recognition.h"
#include "capture/frame_header.h"
#include "capture/pacing.h"
#include "capture/steady_clock.h"
#include "capture/test_pattern.h"
#include "helpers/plugin_fixture.h"
#include "helpers/plugin_probe.h"
#include "host/ring/video_ring_buffer_reader.h"

#include <QTest>

#include <chrono>

using namespace Vardel;
using namespace std::chrono_literals;
using Probe = KorvanePluginProbe;
using Reader = VideoRingBufferReader;

namespace {

// The first column whose three bytes differ from the bars the reference rule gives.
int firstWrongColumn(const std::uint8_t* frame, std::uint32_t width, std::uint32_t height, std::uint32_t n)
{
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const auto& colour = kColourBars[barAt(x, n, width)];
            if (std::memcmp(frame + (std::size_t(y) * width + x) * 3, colour.data(), 3) != 0)
                return int(y * width + x);
        }
    }
    return -1;
}

std::vector<std::uint8_t> paint(std::uint32_t width, std::uint32_t height, std::uint32_t n, std::size_t misalign = 0)
{
    TestPatternPainter painter(width, height);
    std::vector<std::uint8_t> buffer(painter.frameBytes() + 64 + misalign, 0x5a);
    auto* frame = reinterpret_cast<std::uint8_t*>((reinterpret_cast<std::uintptr_t>(buffer.data()) + 63) / 64 * 64) + misalign;
    painter.draw(frame, n);
    return {frame, frame + painter.frameBytes()};
}

// Waits for the next frame and reads it.
bool readFrame(Reader& reader, FrameSlot& header, std::vector<std::uint8_t>& pixels)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (reader.waitForFrame(2s) == Reader::WaitResult::Frame
            && reader.readLatest(header, pixels) == Reader::ReadResult::Frame)
            return true;
    }
    return false;
}

} // namespace

class FramePumpTest : public QObject {
    Q_OBJECT

private slots:
    void barsFollowTheDrawingRule()
    {
        QCOMPARE(barAt(0, 0, 1920), 0u);
        QCOMPARE(barAt(239, 0, 1920), 0u);
        QCOMPARE(barAt(240, 0, 1920), 1u);
        QCOMPARE(barAt(1680, 0, 1920), 7u);
        QCOMPARE(barAt(1919, 0, 1920), 7u);
        QCOMPARE(barAt(0, 1, 1920), barAt(2, 0, 1920));
        QCOMPARE(barAt(238, 1, 1920), 1u); // the picture moved two columns left
        // 1366 wide: bars of 170, a period of 1360; the last six columns repeat the first six.
        for (std::uint32_t x = 1360; x < 1366; ++x)
            QCOMPARE(barAt(x, 0, 1366), barAt(x - 1360, 0, 1366));
        QCOMPARE(barAt(0, 680, 1366), barAt(0, 0, 1366)); // wraps after period / 2 frames
        QCOMPARE(barAt(5, 0xffffffffu, 1920), barAt(5 + (2u * 0xffffffffu) % 1920, 0, 1920));
    }

    void paintedFramesMatchTheRuleEverywhere_data()
    {
        QTest::addColumn<uint>("width");
        QTest::addColumn<uint>("height");
        QTest::addColumn<uint>("n");
        QTest::addColumn<int>("misalign");
        QTest::newRow("1920 n=0") << 1920u << 9u << 0u << 0;
        QTest::newRow("1920 n=1") << 1920u << 9u << 1u << 0;
        QTest::newRow("1366 wrap") << 1366u << 7u << 683u << 0;
        QTest::newRow("odd height, unaligned") << 1366u << 5u << 17u << 5;
        QTest::newRow("narrowest") << 8u << 3u << 3u << 0;
        QTest::newRow("rows shorter than a wide store") << 21u << 4u << 9u << 1;
        QTest::newRow("rows just past a wide store") << 22u << 4u << 11u << 3;
        QTest::newRow("2560 large frame") << 2560u << 1440u << 1000u << 0;
        // Streaming stores from an unaligned start, a frame that ends inside a page.
        QTest::newRow("large frame, unaligned") << 1366u << 771u << 4001u << 13;
    }

    void paintedFramesMatchTheRuleEverywhere()
    {
        QFETCH(uint, width);
        QFETCH(uint, height);
        QFETCH(uint, n);
        QFETCH(int, misalign);
        auto frame = paint(width, height, n, std::size_t(misalign));
        QCOMPARE(firstWrongColumn(frame.data(), width, height, n), -1);
        // The recogniser the readers use finds the frame's place in the motion, and
        // notices a single wrong pixel anywhere.
        QCOMPARE(findBarOffset(frame.data(), width, height), std::optional<std::uint32_t>((2u * n) % (width / 8 * 8)));
        frame[frame.size() - 2] ^= 0x40;
        QVERIFY(!findBarOffset(frame.data(), width, height));
    }

    void scheduleRestartsAfterALateFrame()
    {
        FrameSchedule schedule{10, 0};
        std::int64_t wake = 0;
        QVERIFY(schedule.next(3, wake));
        QCOMPARE(wake, 10);
        QVERIFY(!schedule.next(55, wake)); // a stall: no catching up with frames due at 20..50
        QVERIFY(schedule.next(56, wake));
        QCOMPARE(wake, 65);
    }

    void testPatternFramesInTheRing()
    {
        testing::PluginEnvironment env("pattern");
        KorvanePlugin plugin;
        plugin.initialize();
        Reader reader;
        QVERIFY(reader.attach(env.ringName));
        Probe::startLoop(plugin, true, 1366, 77, 120);
        FrameSlot header;
        std::vector<std::uint8_t> pixels;
        QVERIFY(readFrame(reader, header, pixels));
        QVERIFY(readFrame(reader, header, pixels));
        Probe::stopLoop(plugin);

        QCOMPARE(header.width, 1366u);
        QCOMPARE(header.height, 77u);
        QCOMPARE(header.channels, 3u);
        QCOMPARE(header.stride, 1366u * 3);
        QCOMPARE(header.dataSize, 1366u * 77 * 3);
        QCOMPARE(header.pixelFormat, 3u);
        QCOMPARE(header.flags, 0u);
        QCOMPARE(header.colorSpace, 0u);
        QCOMPARE(header.gain, 0.0f);
        QVERIFY(header.timestampNs > 0 && header.timestampNs <= steadyNowNs());
        // Frame k of the ring is frame n = k - 1 of the pattern.
        QCOMPARE(firstWrongColumn(pixels.data(), 1366, 77, std::uint32_t(header.frameNumber - 1)), -1);
        QCOMPARE(std::uint64_t(Probe::framesWritten(plugin).load()), reader.latestFrameNumber());
    }

    void pacingHoldsTheRate_data()
    {
        QTest::addColumn<int>("fps");
        QTest::newRow("60") << 60;
        QTest::newRow("240") << 240;
    }

    void pacingHoldsTheRate()
    {
        QFETCH(int, fps);
        testing::PluginEnvironment env("pacing");
        KorvanePlugin plugin;
        plugin.initialize();
        Reader reader;
        QVERIFY(reader.attach(env.ringName));
        Probe::startLoop(plugin, true, 160, 120, fps); // small frames: this is about the schedule
        FrameSlot first, last;
        std::vector<std::uint8_t> pixels;
        QVERIFY(readFrame(reader, first, pixels));
        QTest::qWait(1000);
        QVERIFY(readFrame(reader, last, pixels));
        Probe::stopLoop(plugin);
        const double rate = double(last.frameNumber - first.frameNumber) * 1e9 / double(last.timestampNs - first.timestampNs);
        QVERIFY2(std::abs(rate - fps) <= 0.02 * fps, qPrintable(QString::number(rate)));
    }

    void aStopTakesEffectAfterTheCurrentInterval()
    {
        testing::PluginEnvironment env("stop");
        KorvanePlugin plugin;
        plugin.initialize();
        Probe::startLoop(plugin, true, 64, 8, 2); // half a second between frames
        QTRY_COMPARE(Probe::framesWritten(plugin).load(), 1);
        const auto asked = std::chrono::steady_clock::now();
        Probe::stopLoop(plugin);
        const auto waited = std::chrono::steady_clock::now() - asked;
        QVERIFY(waited < 700ms);
        QCOMPARE(Probe::framesWritten(plugin).load(), 1);
    }

    void noSlotEndsTheLoopAndLeavesTheSessionMarkedRunning()
    {
        testing::PluginEnvironment env("noslot");
        // A ring that cannot be connected hands out no slot.
        SharedMemoryManager::instance().setVideoRingBufferName(QStringLiteral("bad/name"));
        KorvanePlugin initialised;
        initialised.initialize();
        Probe::startLoop(initialised, true, 64, 8, 1000);
        Probe::joinLoop(initialised); // ends by itself
        QVERIFY(Probe::running(initialised).load());
        QCOMPARE(Probe::framesWritten(initialised).load(), 0);
        Probe::stopLoop(initialised);
    }
};

QTEST_MAIN(FramePumpTest)
#include "test_frame_pump.moc"
