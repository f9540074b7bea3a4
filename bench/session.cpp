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
#include "app/plugin_host.h"
#include "bench_support.h"
#include "host/logging_service.h"
#include "host/plugin_interfaces.h"
#include "host/shared_memory_manager.h"
#include "ring_tap.h"
#include "stall_meter.h"
#include "thread_cpu.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPluginLoader>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#include <atomic>
#include <functional>
#include <thread>
#include <unistd.h>

using namespace Vardel;

namespace {

const QString kTestSource = QStringLiteral("-1: Video Test");
// A source change while capturing: the session stops on this thread and a start is tried
// on the device, which does not exist here and fails to open on the start thread.
const QString kAbsentDevice = QStringLiteral("0: Absent Camera");

// Runs the event loop until done() holds or the time is up; false on time-out.
bool runUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        // Sleeps until the next event: the stall meter's timer wakes it every millisecond.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void runFor(int ms)
{
    runUntil([] { return false; }, ms);
}

struct Panel {
    QWidget* widget = nullptr;
    QPushButton* startStop = nullptr;
    QToolButton* refresh = nullptr;
    QComboBox* frameRates = nullptr;
    QComboBox* resolutions = nullptr;

    explicit Panel(QWidget* panel) : widget(panel)
    {
        startStop = panel->findChild<QPushButton*>();
        refresh = panel->findChild<QToolButton*>();
        for (QComboBox* box : panel->findChildren<QComboBox*>()) {
            const QVariant first = box->itemData(0);
            if (first.typeId() == QMetaType::Int)
                frameRates = box;
            else if (first.toString() == QLatin1String("2560x1440"))
                resolutions = box;
        }
    }
    bool complete() const { return startStop && refresh && frameRates && resolutions; }
    bool capturing() const { return startStop->text() == QLatin1String("Stop Capture"); }
    bool idle() const { return startStop->text() == QLatin1String("Start Capture") && startStop->isEnabled(); }
    void choose(QComboBox* box, const QVariant& value) const { box->setCurrentIndex(box->findData(value)); }
};

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
                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
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
    meter.reset();
    const std::int64_t before = steadyNowNs();
    act();
    action.callMs.add(double(steadyNowNs() - before) / 1e6);
    runUntil(settled, 3000);
    runFor(settleMs); // queued notifications, the stop and start workers' answers
    action.stallMs.add(meter.longestMs());
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto options = bench::Options::parse(argc, argv, 0, {{1920u, 1080u}});
    const int cycles = std::max(options.repeat, 10);
    LoggingService::instance()->setEchoToStandardError(false);
    QTemporaryDir folder;
    const std::string ringName = "korvane-bench-session-" + std::to_string(::getpid());
    SharedMemoryManager::instance().setVideoRingBufferName(QString::fromStdString(ringName));

    // Loading the library (and everything it links), then making and initialising the
    // plug-in: settings, capture object, the ring's connect.
    QElapsedTimer loadClock;
    loadClock.start();
    QPluginLoader library(QStringLiteral(KORVANE_PLUGIN_PATH));
    if (!library.load()) {
        std::fprintf(stderr, "%s\n", qPrintable(library.errorString()));
        return 1;
    }
    const double loadMs = double(loadClock.nsecsElapsed()) / 1e6;
    PluginHost host;
    QString error;
    loadClock.restart();
    if (!host.load(QStringLiteral(KORVANE_PLUGIN_PATH), folder.filePath(QStringLiteral("settings.ini")), error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const double initializeMs = double(loadClock.nsecsElapsed()) / 1e6;
    auto* pluginObject = dynamic_cast<QObject*>(host.plugin());
    Panel panel(host.panel());
    if (!panel.complete() || !pluginObject) {
        std::fprintf(stderr, "the panel's controls were not found\n");
        return 1;
    }
    panel.widget->show();
    const auto [width, height] = options.sizes.front();
    panel.choose(panel.resolutions, bench::sizeText(width, height));
    panel.choose(panel.frameRates, 60);

    bench::RingTap tap;
    std::string tapError;
    if (!tap.attach(ringName, tapError)) {
        std::fprintf(stderr, "cannot read the ring: %s\n", tapError.c_str());
        return 1;
    }
    bench::StallMeter meter;
    // The user does not click in the first second; the ring warms its pages meanwhile.
    meter.reset();
    runFor(1000);
    const double idleStallMs = meter.longestMs();

    Action start, stop, refresh, sourceChange;
    bench::Spread firstFrameMs;
    double firstSessionFirstFrameMs = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        FirstFrameWatch watch(tap, tap.latestFrame() + 1);
        std::int64_t clicked = 0;
        measure(
            meter, start,
            [&] {
                clicked = steadyNowNs();
                panel.startStop->click();
            },
            [&] { return panel.capturing() && watch.stampNs() != 0; });
        const double ms = watch.stampNs() ? double(watch.stampNs() - clicked) / 1e6 : -1;
        if (cycle == 0)
            firstSessionFirstFrameMs = ms;
        else
            firstFrameMs.add(ms);
        measure(meter, stop, [&] { panel.startStop->click(); }, [&] { return panel.idle(); });
        // The refresh button is disabled while capturing.
        measure(meter, refresh, [&] { panel.refresh->click(); }, [] { return true; });
    }

    // A source change while capturing stops the session on this thread: it waits for the
    // frame thread to finish its current interval.
    for (int cycle = 0; cycle < cycles; ++cycle) {
        panel.startStop->click();
        runUntil([&] { return panel.capturing(); }, 3000);
        runFor(100);
        measure(meter, sourceChange,
                [&] {
                    QMetaObject::invokeMethod(pluginObject, "onVideoSourceChanged", Qt::DirectConnection,
                                              Q_ARG(QString, kAbsentDevice));
                },
                [&] { return panel.idle(); });
        QMetaObject::invokeMethod(pluginObject, "onVideoSourceChanged", Qt::DirectConnection,
                                  Q_ARG(QString, kTestSource));
        runUntil([&] { return panel.idle(); }, 3000);
    }

    // A chooser change while idle: the plug-in saves its three settings on this thread
    // (part of every source change too).
    Action rateChoice;
    for (int cycle = 0; cycle < cycles; ++cycle)
        measure(meter, rateChoice, [&] { panel.choose(panel.frameRates, cycle % 2 ? 60 : 120); }, [] { return true; });

    // The frame thread over 1,000 frames at 240 frames/s.
    panel.choose(panel.frameRates, 240);
    const auto before = bench::threadIds();
    panel.startStop->click();
    runUntil([&] { return panel.capturing(); }, 3000);
    runFor(200);
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
    runUntil([&] { return tap.latestFrame() >= from + 1000; }, 20'000);
    const std::uint64_t frames = tap.latestFrame() - from;
    const long allocations = bench::watchedAllocations() - allocations0;
    const long locks = bench::watchedMutexLocks() - locks0;
    bench::watchThread(0);
    panel.startStop->click();
    runUntil([&] { return panel.idle(); }, 3000);

    auto row = [](const char* what, const Action& a) {
        std::printf("  %-40s %28s %28s\n", what, qPrintable(a.stallMs.text(1)), qPrintable(a.callMs.text(2)));
    };
    std::printf("library load (UI thread)                  %.1f ms\n", loadMs);
    std::printf("plug-in made and initialized (UI thread)  %.1f ms\n", initializeMs);
    std::printf("idle event loop, longest gap over 1 s     %.1f ms\n", idleStallMs);
    std::printf("start request to first frame, %s at 60 frames/s:\n", qPrintable(bench::sizeText(width, height)));
    std::printf("  first session after initialize         %.2f ms\n", firstSessionFirstFrameMs);
    std::printf("  next %d sessions                        %s ms\n", cycles - 1, qPrintable(firstFrameMs.text(2)));
    std::printf("user-interface thread over %d cycles, median (min-max) in ms:\n", cycles);
    std::printf("  %-40s %28s %28s\n", "", "longest stall", "the call itself");
    row("start (click, until the first frame)", start);
    row("stop (click, until the panel is idle)", stop);
    row("refresh (idle; disabled while capturing)", refresh);
    row("source change while capturing at 60", sourceChange);
    row("frame-rate choice while idle", rateChoice);
    std::printf("frame thread over %llu frames at 240 frames/s: %ld heap allocations, %ld mutex locks, %ld log lines\n",
                static_cast<unsigned long long>(frames), allocations, locks, logLines.load());

    bench::writeJson(options.jsonFile,
                     {{QStringLiteral("size"), bench::sizeText(width, height)},
                      {QStringLiteral("libraryLoadMs"), loadMs},
                      {QStringLiteral("initializeMs"), initializeMs},
                      {QStringLiteral("idleLongestGapMs"), idleStallMs},
                      {QStringLiteral("firstSessionStartToFirstFrameMs"), firstSessionFirstFrameMs},
                      {QStringLiteral("startToFirstFrameMs"), firstFrameMs.json()},
                      {QStringLiteral("start"), start.json()},
                      {QStringLiteral("stop"), stop.json()},
                      {QStringLiteral("refresh"), refresh.json()},
                      {QStringLiteral("sourceChangeCapturing"), sourceChange.json()},
                      {QStringLiteral("frameRateChoice"), rateChoice.json()},
                      {QStringLiteral("frameThread"),
                       QJsonObject{{QStringLiteral("frames"), qint64(frames)},
                                   {QStringLiteral("heapAllocations"), qint64(allocations)},
                                   {QStringLiteral("mutexLocks"), qint64(locks)},
                                   {QStringLiteral("logLines"), qint64(logLines.load())}}}});
    host.shutdown();
    return 0;
}
