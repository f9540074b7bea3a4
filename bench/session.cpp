// The plug-in as the host runs it: the module loaded with QPluginLoader, its panel shown
// (offscreen without a display) and driven through its own buttons on this, the
// user-interface thread.
//   session [--repeat N] [--json FILE]
// - start request to first frame: from the click on Start to the timestamp of the
//   session's first frame in the ring (taken when the frame is complete), 1920x1080;
// - the user-interface thread's longest stall during start, stop, refresh and a change of
//   source while capturing: the longest gap of a one-millisecond timer around each action;
// - heap allocations, mutex locks and log lines on the frame thread over 1,000 frames,
//   counted by hooks in this program (allocation_counter.cpp), not in the plug-in.

#include "allocation_counter.h"
#include "app/panel_controls.h"
#include "app/plugin_host.h"
#include "bench_support.h"
#include "capture/steady_clock.h"
#include "host/plugin_interfaces.h"
#include "ring_tap.h"
#include "stall_meter.h"
#include "thread_cpu.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPluginLoader>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#include <atomic>
#include <functional>
#include <thread>
#include <unistd.h>

using namespace Vardel;
using namespace std::chrono_literals;

namespace {

const QString kTestSource = QStringLiteral("-1: Video Test");
// A source change while capturing: the session stops on this thread and a start is tried
// on the device, which does not exist here and fails to open on the start thread.
const QString kAbsentDevice = QStringLiteral("0: Absent Camera");

bool idle(const PanelControls& panel) { return panel.button()->isEnabled() && !panel.button()->isChecked(); }

// Waits on its own thread for frame number `frame` and keeps its timestamp.
class FirstFrameWatch {
public:
    FirstFrameWatch(const bench::RingTap& tap, std::uint64_t frame)
        : thread_([this, &tap, frame](std::stop_token stop) {
              while (!stop.stop_requested()) {
                  if (const auto header = tap.header(frame)) {
                      stamp_.store(header->timestampNs, std::memory_order_release);
                      return;
                  }
                  // Frame 1 stays in its slot for 8 frames; the timestamp says when it was made.
                  std::this_thread::sleep_for(2ms);
              }
          })
    {
    }
    // The frame's timestamp, 0 while it has not been seen.
    std::int64_t stampNs() const { return stamp_.load(std::memory_order_acquire); }

private:
    std::atomic<std::int64_t> stamp_{0};
    std::jthread thread_;
};

struct Action {
    bench::Spread stallMs, callMs;
    QJsonObject json() const { return {{QStringLiteral("stallMs"), stallMs.json()}, {QStringLiteral("callMs"), callMs.json()}}; }
};

// Does the action on this thread, then keeps the event loop running until settled() or
// the time is up, and notes the longest stall and how long the call itself took.
void measure(bench::StallMeter& meter, Action& action, const std::function<void()>& act,
             const std::function<bool()>& settled, int settleMs = 300)
{
    meter.start();
    const std::int64_t before = steadyNowNs();
    act();
    action.callMs.add(double(steadyNowNs() - before) / 1e6);
    bench::runEventLoopUntil(settled, 3000);
    bench::runEventLoopFor(settleMs); // queued notifications, the stop and start workers' answers
    action.stallMs.add(meter.longestMs());
}

// Loading the library (and everything it links), then making and initialising the
// plug-in: settings, capture object, the ring's connect.
struct Loading {
    double libraryMs = 0, initializeMs = 0;
};

bool load(PluginHost& host, const QString& settingsFile, Loading& loading)
{
    QElapsedTimer clock;
    clock.start();
    QPluginLoader library(QStringLiteral(KORVANE_PLUGIN_PATH));
    if (!library.load()) {
        std::fprintf(stderr, "%s\n", qPrintable(library.errorString()));
        return false;
    }
    loading.libraryMs = double(clock.nsecsElapsed()) / 1e6;
    QString error;
    clock.restart();
    if (!host.load(QStringLiteral(KORVANE_PLUGIN_PATH), settingsFile, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    loading.initializeMs = double(clock.nsecsElapsed()) / 1e6;
    return true;
}

// Start, stop and refresh through the panel's buttons, and how long each start took to
// its first frame.
struct StartStop {
    Action start, stop, refresh;
    double firstSessionFirstFrameMs = 0;
    bench::Spread firstFrameMs; // the sessions after the first
};

StartStop startAndStop(const PanelControls& panel, const bench::RingTap& tap, bench::StallMeter& meter, int cycles)
{
    StartStop figures;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        FirstFrameWatch watch(tap, tap.latestFrame() + 1);
        std::int64_t clicked = 0;
        measure(
            meter, figures.start,
            [&] {
                clicked = steadyNowNs();
                panel.button()->click();
            },
            [&] { return panel.capturing() && watch.stampNs() != 0; });
        const double ms = watch.stampNs() ? double(watch.stampNs() - clicked) / 1e6 : -1;
        if (cycle == 0)
            figures.firstSessionFirstFrameMs = ms;
        else
            figures.firstFrameMs.add(ms);
        measure(meter, figures.stop, [&] { panel.button()->click(); }, [&] { return idle(panel); });
        // The refresh button is disabled while capturing.
        measure(meter, figures.refresh, [&] { panel.refresh()->click(); }, [] { return true; });
    }
    return figures;
}

// A source change while capturing stops the session on this thread: it waits for the
// frame thread to finish its current interval.
Action sourceChanges(QObject* plugin, const PanelControls& panel, bench::StallMeter& meter, int cycles)
{
    Action change;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        panel.button()->click();
        bench::runEventLoopUntil([&] { return panel.capturing(); }, 3000);
        bench::runEventLoopFor(100);
        measure(meter, change,
                [&] {
                    QMetaObject::invokeMethod(plugin, "onVideoSourceChanged", Qt::DirectConnection,
                                              Q_ARG(QString, kAbsentDevice));
                },
                [&] { return idle(panel); });
        QMetaObject::invokeMethod(plugin, "onVideoSourceChanged", Qt::DirectConnection, Q_ARG(QString, kTestSource));
        bench::runEventLoopUntil([&] { return idle(panel); }, 3000);
    }
    return change;
}

// A chooser change while idle: the plug-in sets its three settings on this thread, and the
// store writes them in one save on the next turn of its event loop, inside the stall
// measured here (part of every source change too).
Action rateChoices(const PanelControls& panel, bench::StallMeter& meter, int cycles)
{
    Action choice;
    for (int cycle = 0; cycle < cycles; ++cycle)
        measure(meter, choice, [&] { PanelControls::choose(panel.frameRates(), cycle % 2 ? 60 : 120); },
                [] { return true; });
    return choice;
}

// The frame thread over 1,000 frames at 240 frames/s.
struct FrameThread {
    std::uint64_t frames = 0;
    long allocations = 0, locks = 0, logLines = 0;
};

FrameThread frameThreadAt240(const PanelControls& panel, const bench::RingTap& tap)
{
    PanelControls::choose(panel.frameRates(), 240);
    const auto before = bench::threadIds();
    panel.button()->click();
    bench::runEventLoopUntil([&] { return panel.capturing(); }, 3000);
    bench::runEventLoopFor(200);
    // The plug-in made it: of the threads that came, the one that has worked most.
    pid_t frameThread = 0;
    double mostCpu = -1;
    for (const pid_t tid : bench::newThreads(before, bench::threadIds())) {
        const double cpu = bench::threadCpuSeconds(tid);
        if (cpu > mostCpu) {
            mostCpu = cpu;
            frameThread = tid;
        }
    }
    std::atomic<long> logLines{0};
    LogSubscription logs([&](const LoggingService::Entry&) {
        if (::gettid() == frameThread)
            logLines.fetch_add(1, std::memory_order_relaxed);
    });
    bench::watchThread(frameThread);
    const std::uint64_t from = tap.latestFrame();
    const long allocations0 = bench::watchedAllocations();
    const long locks0 = bench::watchedMutexLocks();
    bench::runEventLoopUntil([&] { return tap.latestFrame() >= from + 1000; }, 20'000);
    FrameThread figures;
    figures.frames = tap.latestFrame() - from;
    figures.allocations = bench::watchedAllocations() - allocations0;
    figures.locks = bench::watchedMutexLocks() - locks0;
    bench::watchThread(0);
    panel.button()->click();
    bench::runEventLoopUntil([&] { return idle(panel); }, 3000);
    figures.logLines = logLines.load();
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto options = bench::Options::parse(argc, argv, 0, {{1920u, 1080u}});
    const int cycles = std::max(options.repeat, 10);
    const std::string ringName = bench::useOwnRing("session");
    QTemporaryDir folder;

    PluginHost host;
    Loading loading;
    if (!load(host, folder.filePath(QStringLiteral("settings.ini")), loading))
        return 1;
    auto* pluginObject = dynamic_cast<QObject*>(host.plugin());
    const PanelControls panel(host.panel());
    if (!panel.complete() || !panel.refresh() || !pluginObject) {
        std::fprintf(stderr, "the panel's controls were not found\n");
        return 1;
    }
    host.panel()->show();
    const auto [width, height] = options.sizes.front();
    PanelControls::choose(panel.resolutions(), bench::sizeText(width, height));
    PanelControls::choose(panel.frameRates(), 60);

    const bench::RingTap tap = bench::RingTap::attachOrExit(ringName);
    bench::StallMeter meter(1ms);
    // The user does not click in the first second; the ring warms its pages meanwhile.
    meter.start();
    bench::runEventLoopFor(1000);
    const double idleStallMs = meter.longestMs();

    const StartStop startStop = startAndStop(panel, tap, meter, cycles);
    const Action sourceChange = sourceChanges(pluginObject, panel, meter, cycles);
    const Action rateChoice = rateChoices(panel, meter, cycles);
    const FrameThread frameThread = frameThreadAt240(panel, tap);

    auto row = [](const char* what, const Action& a) {
        std::printf("  %-40s %28s %28s\n", what, qPrintable(a.stallMs.text(1)), qPrintable(a.callMs.text(2)));
    };
    std::printf("library load (UI thread)                  %.1f ms\n", loading.libraryMs);
    std::printf("plug-in made and initialized (UI thread)  %.1f ms\n", loading.initializeMs);
    std::printf("idle event loop, longest gap over 1 s     %.1f ms\n", idleStallMs);
    std::printf("start request to first frame, %s at 60 frames/s:\n", qPrintable(bench::sizeText(width, height)));
    std::printf("  first session after initialize         %.2f ms\n", startStop.firstSessionFirstFrameMs);
    std::printf("  next %d sessions                        %s ms\n", cycles - 1, qPrintable(startStop.firstFrameMs.text(2)));
    std::printf("user-interface thread over %d cycles, median (min-max) in ms:\n", cycles);
    std::printf("  %-40s %28s %28s\n", "", "longest stall", "the call itself");
    row("start (click, until the first frame)", startStop.start);
    row("stop (click, until the panel is idle)", startStop.stop);
    row("refresh (idle; disabled while capturing)", startStop.refresh);
    row("source change while capturing at 60", sourceChange);
    row("frame-rate choice while idle", rateChoice);
    std::printf("frame thread over %llu frames at 240 frames/s: %ld heap allocations, %ld mutex locks, %ld log lines\n",
                static_cast<unsigned long long>(frameThread.frames), frameThread.allocations, frameThread.locks,
                frameThread.logLines);

    bench::writeJson(options.jsonFile,
                     {{QStringLiteral("size"), bench::sizeText(width, height)},
                      {QStringLiteral("libraryLoadMs"), loading.libraryMs},
                      {QStringLiteral("initializeMs"), loading.initializeMs},
                      {QStringLiteral("idleLongestGapMs"), idleStallMs},
                      {QStringLiteral("firstSessionStartToFirstFrameMs"), startStop.firstSessionFirstFrameMs},
                      {QStringLiteral("startToFirstFrameMs"), startStop.firstFrameMs.json()},
                      {QStringLiteral("start"), startStop.start.json()},
                      {QStringLiteral("stop"), startStop.stop.json()},
                      {QStringLiteral("refresh"), startStop.refresh.json()},
                      {QStringLiteral("sourceChangeCapturing"), sourceChange.json()},
                      {QStringLiteral("frameRateChoice"), rateChoice.json()},
                      {QStringLiteral("frameThread"),
                       QJsonObject{{QStringLiteral("frames"), qint64(frameThread.frames)},
                                   {QStringLiteral("heapAllocations"), qint64(frameThread.allocations)},
                                   {QStringLiteral("mutexLocks"), qint64(frameThread.locks)},
                                   {QStringLiteral("logLines"), qint64(frameThread.logLines)}}}});
    host.shutdown();
    return 0;
}
