// Where a frame's time goes when frames come with pauses between them, as paced frames do.
//   frame_cost [--size WxH]... [--frames N] [--json FILE]
// 1. The painter's draw into the ring's slots (round robin, as the writer hands them out)
//    after a pause of 0 to 4 ms, spent busy-waiting or asleep, next to the same streaming
//    stores without the per-page translation prefetch. A busy pause makes no system call,
//    so what it costs is not the sleep.
// 2. The first frames written into a freshly connected ring: at once, and after the
//    ring's page warmer has had a second.

#include "bench_support.h"
#include "capture/steady_clock.h"
#include "capture/test_pattern.h"
#include "helpers/unique_names.h"
#include "host/ring/video_ring_buffer_writer.h"

#include <QCoreApplication>

#include <cstring>
#include <immintrin.h>
#include <thread>

using namespace Vardel;

namespace {

// The painter's non-temporal fill as it was, without prefetching translations.
void streamRowsWithoutPrefetch(std::uint8_t* destination, const std::uint8_t* rows, std::size_t rowBytes,
                               std::size_t total)
{
    std::size_t p = 0, from = 0;
    for (; p + 64 <= total; p += 64) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows + from));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows + from + 32));
        _mm256_stream_si256(reinterpret_cast<__m256i*>(destination + p), a);
        _mm256_stream_si256(reinterpret_cast<__m256i*>(destination + p + 32), b);
        from += 64;
        if (from >= rowBytes)
            from -= rowBytes;
    }
    std::memcpy(destination + p, rows + from, total - p);
    _mm_sfence();
}

void pause(std::int64_t ns, bool asleep)
{
    if (ns == 0)
        return;
    if (asleep) {
        std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
        return;
    }
    const std::int64_t until = steadyNowNs() + ns;
    while (steadyNowNs() < until) {
    }
}

struct Ring {
    VideoRingBufferWriter writer;
    explicit Ring(const char* what)
    {
        if (!writer.connect(testing::uniqueRingName(what), 8, 16u << 20)) {
            std::fprintf(stderr, "cannot connect a ring: %s\n", writer.lastError().c_str());
            std::exit(1);
        }
    }
    // The next slot, given back at once: only its memory is used here.
    std::uint8_t* nextSlot()
    {
        const auto slot = writer.acquireWriteSlot();
        writer.releaseWriteSlot(slot->slotIndex, FrameSlot{});
        return slot->data;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const auto options = bench::Options::parse(argc, argv, 0, {{2560u, 1440u}, {1920u, 1080u}}, 240);
    bench::JsonRows results(QStringLiteral("frameCost"));
    for (const auto& [width, height] : options.sizes) {
        const QString size = bench::sizeText(width, height);
        TestPatternPainter painter(width, height);
        const std::size_t rowBytes = std::size_t(width) * 3;
        // Three rows of frame 0: row 0 repeated, as the painter keeps it.
        std::vector<std::uint8_t> rows(rowBytes * 3);
        TestPatternPainter(width, 3).draw(rows.data(), 0);

        Ring ring("cost");
        std::this_thread::sleep_for(std::chrono::seconds(1)); // the warmer's second
        std::printf("%s: draw time in us, p50 / p90 of %ld frames, after a pause\n", qPrintable(size), options.frames);
        std::printf("  %-8s %-7s %22s %22s\n", "pause", "spent", "painter", "without prefetch");
        for (const std::int64_t pauseNs : {0ll, 250'000ll, 1'000'000ll, 4'000'000ll}) {
            for (const bool asleep : {false, true}) {
                if (pauseNs == 0 && asleep)
                    continue;
                std::vector<double> painted, plain;
                for (long n = 0; n < options.frames; ++n) {
                    pause(pauseNs, asleep);
                    std::uint8_t* slot = ring.nextSlot();
                    std::int64_t t = steadyNowNs();
                    painter.draw(slot, std::uint32_t(n));
                    painted.push_back(double(steadyNowNs() - t) / 1e3);
                    pause(pauseNs, asleep);
                    slot = ring.nextSlot();
                    t = steadyNowNs();
                    streamRowsWithoutPrefetch(slot, rows.data(), rowBytes, painter.frameBytes());
                    plain.push_back(double(steadyNowNs() - t) / 1e3);
                }
                auto text = [](const std::vector<double>& v) {
                    return QStringLiteral("%1 / %2").arg(bench::percentile(v, 50), 0, 'f', 0).arg(bench::percentile(v, 90), 0, 'f', 0);
                };
                std::printf("  %-8s %-7s %22s %22s\n", qPrintable(QStringLiteral("%1 ms").arg(double(pauseNs) / 1e6)),
                            pauseNs == 0 ? "-" : asleep ? "asleep" : "busy", qPrintable(text(painted)),
                            qPrintable(text(plain)));
                results.add(QJsonObject{{QStringLiteral("size"), size},
                                           {QStringLiteral("pauseMs"), double(pauseNs) / 1e6},
                                           {QStringLiteral("asleep"), asleep},
                                           {QStringLiteral("painterP50Micros"), bench::percentile(painted, 50)},
                                           {QStringLiteral("painterP90Micros"), bench::percentile(painted, 90)},
                                           {QStringLiteral("withoutPrefetchP50Micros"), bench::percentile(plain, 50)},
                                           {QStringLiteral("withoutPrefetchP90Micros"), bench::percentile(plain, 90)}});
            }
        }

        // The first frames into a fresh ring: one per slot, then the next round.
        for (const bool waited : {false, true}) {
            Ring fresh("fresh");
            if (waited)
                std::this_thread::sleep_for(std::chrono::seconds(1));
            std::vector<double> first, second;
            for (int n = 0; n < 16; ++n) {
                std::uint8_t* slot = fresh.nextSlot();
                const std::int64_t t = steadyNowNs();
                painter.draw(slot, std::uint32_t(n));
                (n < 8 ? first : second).push_back(double(steadyNowNs() - t) / 1e6);
            }
            std::printf("  fresh ring, %-24s first frame per slot %.2f ms median (max %.2f), the next round %.2f ms\n",
                        waited ? "drawn 1 s after connect:" : "drawn at once:", bench::percentile(first, 50),
                        bench::percentile(first, 100), bench::percentile(second, 50));
            results.add(QJsonObject{{QStringLiteral("size"), size},
                                       {QStringLiteral("freshRingWaitedSecond"), waited},
                                       {QStringLiteral("firstFramePerSlotMs"), bench::percentile(first, 50)},
                                       {QStringLiteral("nextRoundMs"), bench::percentile(second, 50)}});
        }
        std::fflush(stdout);
    }
    results.write(options.jsonFile);
    return 0;
}
