// The test-pattern pump through the plug-in's own loop into a real ring, unpaced and
// paced, next to the memory limit: memset of the same frame into the same slots.
//   pump [--seconds N] [--json FILE]

#include "bench_support.h"
#include "helpers/plugin_probe.h"
#include "helpers/unique_names.h"
#include "host/logging_service.h"
#include "host/shared_memory_manager.h"
#include "host/video_ring_buffer_writer.h"

#include <QCoreApplication>

#include <cstring>
#include <thread>

using namespace Vardel;
using Probe = KorvanePluginProbe;

namespace {

struct Run {
    double fps = 0;
    double gbPerSecond = 0;
    double cpuPerSecond = 0; // CPU seconds per second: the main thread only sleeps meanwhile
};

Run runPump(KorvanePlugin& plugin, std::uint32_t width, std::uint32_t height, int fps, double seconds)
{
    Probe::startLoop(plugin, true, width, height, fps);
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // settle
    const int frames0 = Probe::framesWritten(plugin).load();
    const double cpu0 = bench::processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const int frames = Probe::framesWritten(plugin).load() - frames0;
    const double wall = bench::secondsSince(start);
    const double cpu = bench::processCpuSeconds() - cpu0;
    Probe::stopLoop(plugin);
    Run run;
    run.fps = frames / wall;
    run.gbPerSecond = run.fps * double(width) * height * 3 / 1e9;
    run.cpuPerSecond = cpu / wall;
    return run;
}

// The same ring calls per frame as the pump, with memset as the whole drawing.
Run runMemset(VideoRingBufferWriter& writer, std::uint32_t width, std::uint32_t height, double seconds)
{
    const std::size_t bytes = std::size_t(width) * height * 3;
    long frames = 0;
    const auto start = std::chrono::steady_clock::now();
    while (bench::secondsSince(start) < seconds) {
        auto slot = writer.acquireWriteSlot();
        std::memset(slot->data, int(frames & 0xff), bytes);
        writer.releaseWriteSlot(slot->slotIndex, FrameSlot{});
        writer.signalAllFrameEvents();
        ++frames;
    }
    Run run;
    run.fps = frames / bench::secondsSince(start);
    run.gbPerSecond = run.fps * double(bytes) / 1e9;
    return run;
}

QJsonObject json(const Run& run)
{
    return {{QStringLiteral("fps"), run.fps},
            {QStringLiteral("gbPerSecond"), run.gbPerSecond},
            {QStringLiteral("cpuPerSecond"), run.cpuPerSecond}};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const auto options = bench::Options::parse(argc, argv);
    LoggingService::instance()->setEchoToStandardError(false);
    SharedMemoryManager::instance().setVideoRingBufferName(QString::fromStdString(testing::uniqueRingName("bench")));

    QJsonArray sizes;
    std::printf("%-10s %-8s %12s %8s %10s\n", "size", "mode", "frames/s", "GB/s", "CPU s/s");
    for (const auto& [width, height] : {std::pair{1920u, 1080u}, std::pair{2560u, 1440u}}) {
        KorvanePlugin plugin;
        plugin.initialize();
        const QString size = QStringLiteral("%1x%2").arg(width).arg(height);
        const Run limit = runMemset(*Probe::ringWriter(plugin), width, height, options.seconds);
        const Run unpaced = runPump(plugin, width, height, 1'000'000'000, options.seconds);
        const Run paced60 = runPump(plugin, width, height, 60, options.seconds);
        const Run paced240 = runPump(plugin, width, height, 240, options.seconds);
        auto row = [&](const char* mode, const Run& run) {
            std::printf("%-10s %-8s %12.1f %8.2f %10.3f\n", qPrintable(size), mode, run.fps, run.gbPerSecond,
                        run.cpuPerSecond);
        };
        row("memset", limit);
        row("unpaced", unpaced);
        row("60", paced60);
        row("240", paced240);
        std::printf("%-10s pump/limit %.3f\n", qPrintable(size), unpaced.fps / limit.fps);
        sizes.append(QJsonObject{{QStringLiteral("size"), size},
                                 {QStringLiteral("memsetLimit"), json(limit)},
                                 {QStringLiteral("unpaced"), json(unpaced)},
                                 {QStringLiteral("paced60"), json(paced60)},
                                 {QStringLiteral("paced240"), json(paced240)},
                                 {QStringLiteral("pumpToLimit"), unpaced.fps / limit.fps}});
    }
    bench::writeJson(options.jsonFile, {{QStringLiteral("pump"), sizes}});
    return 0;
}
