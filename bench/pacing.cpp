// How well the test pattern holds its rate: the plug-in's own loop at 30, 60, 120 and 240
// frames/s, every published timestamp read back from the ring.
//   pacing [--seconds N] [--repeat N] [--size WxH]... [--json FILE]
// Frame k of a run is due k intervals after the loop started (the loop starts its
// schedule when it starts, and sleeps in whole milliseconds rounded up). Its lateness is
// its timestamp, taken when the frame is complete in the slot, minus that time: so it
// holds the oversleep and the drawing. A frame an interval late or more restarts the
// schedule, as the loop does: the next frame is due at once, the one after an interval
// later. Restarts are counted.

#include "bench_support.h"
#include "helpers/plugin_probe.h"
#include "warm_plugin.h"

#include <QCoreApplication>

#include <atomic>
#include <thread>

using namespace Vardel;
using Probe = KorvanePluginProbe;

namespace {

struct Run {
    double rate = 0;
    std::vector<double> latenessMicros;
    int restarts = 0;
};

Run runPaced(KorvanePlugin& plugin, const bench::RingTap& tap, std::uint32_t width, std::uint32_t height, int fps,
             double seconds)
{
    const std::int64_t interval = 1'000'000'000 / fps;
    const std::uint64_t firstFrame = tap.latestFrame() + 1;
    // The loop takes its own start time a few microseconds after the thread's: lateness
    // errs on the late side by that much.
    std::atomic<std::int64_t> started{0};
    Probe::startLoop(plugin, true, width, height, fps, &started);

    std::vector<std::int64_t> stamps;
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    std::uint64_t next = firstFrame;
    while (std::chrono::steady_clock::now() < until) {
        // Every frame stays in its slot for 8 frames: at 240 frames/s, 33 ms.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (const std::uint64_t latest = tap.latestFrame(); next <= latest; ++next) {
            const auto header = tap.header(next);
            if (!header) {
                std::fprintf(stderr, "frame %llu was overwritten before it was read\n",
                             static_cast<unsigned long long>(next));
                continue;
            }
            stamps.push_back(header->timestampNs);
        }
    }
    Probe::stopLoop(plugin);

    Run run;
    if (stamps.size() < 2)
        return run;
    run.rate = double(stamps.size() - 1) * 1e9 / double(stamps.back() - stamps.front());
    std::int64_t due = started.load();
    for (const std::int64_t stamp : stamps) {
        const std::int64_t late = stamp - due;
        run.latenessMicros.push_back(double(late) / 1e3);
        if (late >= interval) {
            // The loop found the next frame due already: it draws it at once and counts
            // the interval after that from its clock reading, just after this stamp.
            ++run.restarts;
            due = stamp;
        } else {
            due += interval;
        }
    }
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const auto options = bench::Options::parse(argc, argv, 5.0, {{1920u, 1080u}, {2560u, 1440u}});
    const std::string ringName = bench::useOwnRing("pacing");

    bench::JsonRows results(QStringLiteral("pacing"));
    std::printf("%-10s %5s %20s %16s %20s %20s %20s %9s\n", "size", "fps", "achieved frames/s", "rate error %",
                "lateness p50 us", "p99 us", "max us", "restarts");
    for (const auto& [width, height] : options.sizes) {
        bench::WarmPlugin warm(ringName);
        for (const int fps : {30, 60, 120, 240}) {
            bench::Spread rate, rateError, p50, p99, max, restarts;
            for (int r = 0; r < options.repeat; ++r) {
                const Run run = runPaced(warm.plugin, warm.tap, width, height, fps, options.seconds);
                rate.add(run.rate);
                rateError.add((run.rate - fps) / fps * 100.0);
                p50.add(bench::percentile(run.latenessMicros, 50));
                p99.add(bench::percentile(run.latenessMicros, 99));
                max.add(bench::percentile(run.latenessMicros, 100));
                restarts.add(run.restarts);
            }
            const QString size = bench::sizeText(width, height);
            std::printf("%-10s %5d %20s %16s %20s %20s %20s %9s\n", qPrintable(size), fps, qPrintable(rate.text(2)),
                        qPrintable(rateError.text(3)), qPrintable(p50.text(0)), qPrintable(p99.text(0)),
                        qPrintable(max.text(0)), qPrintable(restarts.text(0)));
            std::fflush(stdout);
            results.add(QJsonObject{{QStringLiteral("size"), size},
                                       {QStringLiteral("fps"), fps},
                                       {QStringLiteral("achievedFps"), rate.json()},
                                       {QStringLiteral("rateErrorPercent"), rateError.json()},
                                       {QStringLiteral("latenessP50Micros"), p50.json()},
                                       {QStringLiteral("latenessP99Micros"), p99.json()},
                                       {QStringLiteral("latenessMaxMicros"), max.json()},
                                       {QStringLiteral("restarts"), restarts.json()}});
        }
    }
    results.write(options.jsonFile, options.json());
    return 0;
}
