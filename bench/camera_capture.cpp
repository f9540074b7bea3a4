// The plug-in's camera path alone: a device opened as a session opens it (openVideoSource)
// and the plug-in's capture loop publishing into a ring nobody reads, measured over a
// window after a second of settling. Run it under pw-v4l2 for a virtual camera
// (bench/camera.sh does), or as it is for a real one.
//   camera_capture --source "12: Virtual Camera" [--size WxH] [--fps N] [--seconds N] [--every-second]
// Prints the frames published per second, the frame thread's CPU per frame (its schedstat)
// and the whole process's (which holds the V4L2 emulation's client side too), and with
// --every-second a line per second: frames and the frame thread's share of a core, for
// watching a device that stalls or goes away.

#include "bench_support.h"
#include "helpers/plugin_probe.h"
#include "helpers/unique_names.h"
#include "host/logging_service.h"
#include "host/shared_memory_manager.h"
#include "ring_tap.h"
#include "thread_cpu.h"

#include <QCoreApplication>

#include <opencv2/videoio.hpp>

#include <cstdio>
#include <thread>

using namespace Vardel;
using Probe = KorvanePluginProbe;

namespace {

struct Reading {
    std::uint64_t frames = 0;
    double threadCpu = 0;
    double processCpu = 0;
    std::chrono::steady_clock::time_point at;
};

Reading read(const bench::RingTap& tap, pid_t frameThread)
{
    return {tap.latestFrame(), bench::threadCpuSeconds(frameThread), bench::processCpuSeconds(),
            std::chrono::steady_clock::now()};
}

[[noreturn]] void usage(const char* program)
{
    std::fprintf(stderr, "usage: %s --source \"N: NAME\" [--size WxH] [--fps N] [--seconds N] [--every-second]\n",
                 program);
    std::exit(64);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString source;
    int width = 1280, height = 720, fps = 30;
    double seconds = 5;
    bool everySecond = false;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--every-second")) {
            everySecond = true;
            continue;
        }
        if (i + 1 >= argc)
            usage(argv[0]);
        const QString value = QString::fromLocal8Bit(argv[++i]);
        if (arg == QLatin1String("--source"))
            source = value;
        else if (arg == QLatin1String("--size") && value.count(QLatin1Char('x')) == 1) {
            width = value.section(QLatin1Char('x'), 0, 0).toInt();
            height = value.section(QLatin1Char('x'), 1, 1).toInt();
        } else if (arg == QLatin1String("--fps"))
            fps = value.toInt();
        else if (arg == QLatin1String("--seconds"))
            seconds = value.toDouble();
        else
            usage(argv[0]);
    }
    if (source.isEmpty() || width <= 0 || height <= 0 || fps <= 0 || seconds <= 0)
        usage(argv[0]);

    const std::string ringName = testing::uniqueRingName("camera");
    SharedMemoryManager::instance().setVideoRingBufferName(QString::fromStdString(ringName));
    KorvanePlugin plugin;
    plugin.initialize();
    bench::RingTap tap;
    std::string error;
    if (!tap.attach(ringName, error)) {
        std::fprintf(stderr, "cannot read the ring: %s\n", error.c_str());
        return 1;
    }
    if (!Probe::openVideoSource(plugin, source, width, height, fps)) {
        std::fprintf(stderr, "cannot open %s (the log above says why)\n", qPrintable(source));
        return 1;
    }
    const std::uint32_t frameWidth = Probe::captureWidth(plugin);
    const std::uint32_t frameHeight = Probe::captureHeight(plugin);
    const auto before = bench::threadIds();
    Probe::startLoop(plugin, false, frameWidth, frameHeight, fps);
    const auto started = bench::newThreads(before, bench::threadIds());
    const pid_t frameThread = started.size() == 1 ? started.front() : 0;
    if (frameThread == 0)
        std::fprintf(stderr, "could not tell the frame thread apart; its CPU reads as 0\n");
    std::this_thread::sleep_for(std::chrono::seconds(1));

    const Reading first = read(tap, frameThread);
    Reading last = first;
    const auto end = first.at + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                    std::chrono::duration<double>(seconds));
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_until(std::min(end, last.at + std::chrono::seconds(1)));
        const Reading now = read(tap, frameThread);
        if (everySecond) {
            const double wall = std::chrono::duration<double>(now.at - last.at).count();
            std::printf("second: %llu frames, frame thread %.2f %% of a core\n",
                        static_cast<unsigned long long>(now.frames - last.frames),
                        100.0 * (now.threadCpu - last.threadCpu) / wall);
            std::fflush(stdout);
        }
        last = now;
    }
    Probe::stopLoop(plugin);
    Probe::videoCapture(plugin)->release();
    plugin.shutdown();

    const double wall = std::chrono::duration<double>(last.at - first.at).count();
    const double frames = double(last.frames - first.frames);
    const double perFrame = frames > 0 ? 1e6 / frames : 0;
    std::printf("%ux%u at %d frames/s asked: %.2f frames/s published; frame thread %.0f us/frame, process %.0f "
                "us/frame (%.3f CPU s/s)\n",
                frameWidth, frameHeight, fps, frames / wall, (last.threadCpu - first.threadCpu) * perFrame,
                (last.processCpu - first.processCpu) * perFrame, (last.processCpu - first.processCpu) / wall);
    return 0;
}
