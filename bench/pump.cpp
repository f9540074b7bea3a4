// The test-pattern pump through the plug-in's own loop into a real ring, unpaced and
// paced at 60 and 240 frames/s, next to the memory limit: memset of the same frame into
// the same slots with the same ring calls, in the same run.
//   pump [--seconds N] [--repeat N] [--size WxH]... [--json FILE]
// CPU is the frame thread's own (its schedstat), not the process's; the process's is
// printed beside it.

#include "bench_support.h"
#include "capture/pacing.h"
#include "capture/steady_clock.h"
#include "helpers/plugin_probe.h"
#include "host/ring/video_ring_buffer_writer.h"
#include "thread_cpu.h"
#include "warm_plugin.h"

#include <QCoreApplication>

#include <cstring>
#include <ctime>
#include <thread>

using namespace Vardel;
using Probe = KorvanePluginProbe;

namespace {

constexpr int kUnpaced = 1'000'000'000; // an interval of 1 ns: never sleeps

struct Figures {
    bench::Spread fps, gbPerSecond, cpuPerSecond, cpuMicrosPerFrame, processCpuPerSecond;

    void add(double rate, double frameBytes, double cpu, double processCpu)
    {
        fps.add(rate);
        gbPerSecond.add(rate * frameBytes / 1e9);
        cpuPerSecond.add(cpu);
        cpuMicrosPerFrame.add(rate > 0 ? cpu / rate * 1e6 : 0);
        processCpuPerSecond.add(processCpu);
    }
    QJsonObject json() const
    {
        return {{QStringLiteral("fps"), fps.json()},
                {QStringLiteral("gbPerSecond"), gbPerSecond.json()},
                {QStringLiteral("frameThreadCpuPerSecond"), cpuPerSecond.json()},
                {QStringLiteral("frameThreadCpuMicrosPerFrame"), cpuMicrosPerFrame.json()},
                {QStringLiteral("processCpuPerSecond"), processCpuPerSecond.json()}};
    }
};

double ownThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// A published frame and its timestamp, read through the tap.
struct Mark {
    std::uint64_t frame = 0;
    std::int64_t timestampNs = 0;
};

Mark latestMark(const bench::RingTap& tap)
{
    for (;;) {
        const std::uint64_t k = tap.latestFrame();
        if (const auto header = tap.header(k))
            return {k, header->timestampNs};
    }
}

// The plug-in's test-pattern loop on its own thread for `seconds` after a short settling.
void runPump(KorvanePlugin& plugin, const bench::RingTap& tap, std::uint32_t width, std::uint32_t height, int fps,
             double seconds, Figures& figures)
{
    const auto before = bench::threadIds();
    Probe::startLoop(plugin, true, width, height, fps);
    const auto started = bench::newThreads(before, bench::threadIds());
    const pid_t frameThread = started.size() == 1 ? started.front() : 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    const Mark m0 = latestMark(tap);
    const double cpu0 = bench::threadCpuSeconds(frameThread);
    const double process0 = bench::processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const Mark m1 = latestMark(tap);
    const double cpu1 = bench::threadCpuSeconds(frameThread);
    const double wall = bench::secondsSince(start);
    const double process1 = bench::processCpuSeconds();
    Probe::stopLoop(plugin);

    // The rate from the frames' own timestamps: no error from where the window falls.
    const double rate = double(m1.frame - m0.frame) * 1e9 / double(m1.timestampNs - m0.timestampNs);
    if (frameThread == 0 || cpu0 < 0 || cpu1 < 0)
        std::fprintf(stderr, "could not tell the frame thread apart; its CPU reads as 0\n");
    const double cpu = frameThread && cpu0 >= 0 && cpu1 >= 0 ? (cpu1 - cpu0) / wall : 0.0;
    figures.add(rate, double(width) * height * 3, cpu, (process1 - process0) / wall);
}

// The pump's ring calls with memset as the whole drawing, on this thread; paced like the
// pump when fps is not kUnpaced.
void runMemset(VideoRingBufferWriter& writer, std::uint32_t width, std::uint32_t height, int fps, double seconds,
               Figures& figures)
{
    const std::size_t bytes = std::size_t(width) * height * 3;
    FrameSchedule schedule{1'000'000'000 / fps, steadyNowNs()};
    long frames = 0;
    const double cpu0 = ownThreadCpuSeconds();
    const double process0 = bench::processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    while (bench::secondsSince(start) < seconds) {
        auto slot = writer.acquireWriteSlot();
        std::memset(slot->data, int(frames & 0xff), bytes);
        writer.releaseWriteSlot(slot->slotIndex, FrameSlot{});
        writer.signalAllFrameEvents();
        ++frames;
        std::int64_t wakeAt = 0;
        if (schedule.next(steadyNowNs(), wakeAt))
            sleepUntilNs(wakeAt);
    }
    const double wall = bench::secondsSince(start);
    figures.add(double(frames) / wall, double(bytes), (ownThreadCpuSeconds() - cpu0) / wall,
                (bench::processCpuSeconds() - process0) / wall);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const auto options = bench::Options::parse(argc, argv, 3.0, {{1920u, 1080u}, {2560u, 1440u}});
    const std::string ringName = bench::useOwnRing("bench");

    bench::JsonRows sizes(QStringLiteral("pump"));
    std::printf("%-10s %-12s %24s %20s %22s %20s %20s\n", "size", "mode", "frames/s", "GB/s", "frame thread CPU s/s",
                "CPU us/frame", "process CPU s/s");
    for (const auto& [width, height] : options.sizes) {
        bench::WarmPlugin warm(ringName);
        KorvanePlugin& plugin = warm.plugin;
        const bench::RingTap& tap = warm.tap;
        const QString size = bench::sizeText(width, height);
        Figures limit, limit240, unpaced, paced60, paced240;
        // The rate ratio as asked, and the same per CPU second of the drawing thread, which
        // stays fair when another program takes turns on the core during one of the runs.
        bench::Spread ratio, ratioPerCpu;
        for (int r = 0; r < options.repeat; ++r) {
            runMemset(*Probe::ringWriter(plugin), width, height, kUnpaced, options.seconds, limit);
            runPump(plugin, tap, width, height, kUnpaced, options.seconds, unpaced);
            runPump(plugin, tap, width, height, 60, options.seconds, paced60);
            runPump(plugin, tap, width, height, 240, options.seconds, paced240);
            runMemset(*Probe::ringWriter(plugin), width, height, 240, options.seconds, limit240);
            ratio.add(unpaced.fps.samples.back() / limit.fps.samples.back());
            ratioPerCpu.add(limit.cpuMicrosPerFrame.samples.back() / unpaced.cpuMicrosPerFrame.samples.back());
        }
        auto row = [&](const char* mode, const Figures& f) {
            std::printf("%-10s %-12s %24s %20s %22s %20s %20s\n", qPrintable(size), mode, qPrintable(f.fps.text(1)),
                        qPrintable(f.gbPerSecond.text(2)), qPrintable(f.cpuPerSecond.text(3)),
                        qPrintable(f.cpuMicrosPerFrame.text(0)), qPrintable(f.processCpuPerSecond.text(3)));
        };
        row("memset", limit);
        row("unpaced", unpaced);
        row("paced 60", paced60);
        row("paced 240", paced240);
        row("memset 240", limit240);
        std::printf("%-10s pump/limit %s; per CPU second %s\n", qPrintable(size), qPrintable(ratio.text(3)),
                    qPrintable(ratioPerCpu.text(3)));
        std::fflush(stdout);
        sizes.add(QJsonObject{{QStringLiteral("size"), size},
                                 {QStringLiteral("memsetLimit"), limit.json()},
                                 {QStringLiteral("unpaced"), unpaced.json()},
                                 {QStringLiteral("paced60"), paced60.json()},
                                 {QStringLiteral("paced240"), paced240.json()},
                                 {QStringLiteral("memsetPaced240"), limit240.json()},
                                 {QStringLiteral("pumpToLimit"), ratio.json()},
                                 {QStringLiteral("pumpToLimitPerCpuSecond"), ratioPerCpu.json()}});
    }
    sizes.write(options.jsonFile, options.json());
    return 0;
}
