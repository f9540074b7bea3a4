// Capture sessions driven through the panel and the host's calls, on the fake device:
// starts and stops on their worker threads, requests queued behind a worker that has not
// answered (a slow open, a blocked grab), source changes, shutdown, the rate chosen and shown.

#include "app/frame_checker.h"
#include "bench/thread_cpu.h"
#include "capture/bar_recognition.h"
#include "capture/steady_clock.h"
#include "helpers/fake_video_capture.h"
#include "helpers/plugin_probe.h"
#include "helpers/thread_limit.h"
#include "host/ring/video_ring_buffer_reader.h"

#include <QApplication>
#include <QTest>
#include <QToolButton>

#include <fcntl.h>
#include <future>
#include <numeric>
#include <limits>
#include <sys/mman.h>
#include <unistd.h>

using namespace Vardel;
using namespace std::chrono_literals;
using Probe = KorvanePluginProbe;
using testing::korvaneLine;

namespace {

const QString kTest = QStringLiteral("-1: Video Test");
const QString& kCam = testing::kFakeCam;

struct Session : testing::FakeDeviceSession {
    testing::FakeDevice& device = *plugin.device;
    // The source and rate stored by an earlier run.
    explicit Session(const QString& source = kCam, int frameRate = 60) : FakeDeviceSession("session", 64, 48, 200)
    {
        env.store(QStringLiteral("videoSource"), source);
        env.store(QStringLiteral("captureFrameRate"), frameRate);
        initializeWithPanel();
    }
    bool request(bool start) { return QMetaObject::invokeMethod(&plugin, "onCaptureToggleRequested", Q_ARG(bool, start)); }
    void choose(const QString& source) { QMetaObject::invokeMethod(&plugin, "onVideoSourceChanged", Q_ARG(QString, source)); }
    int count(const char* level, const QString& message) const { return log.count(korvaneLine(level, message)); }
    bool starting() const { return ui.button()->text() == QLatin1String("Starting...") && !ui.button()->isEnabled(); }
};

} // namespace

class SessionTest : public QObject {
    Q_OBJECT

private slots:
    void deviceFramesReachTheRingWholeUntilTheSessionEnds()
    {
        Session s;
        VideoRingBufferReader reader;
        QVERIFY(reader.attach(s.env.ringName));
        s.ui.click();
        QVERIFY(s.starting());
        QTRY_VERIFY(s.ui.capturing());
        QCOMPARE(reader.waitForFrame(5s), VideoRingBufferReader::WaitResult::Frame);
        FrameSlot header;
        std::vector<std::uint8_t> pixels;
        QCOMPARE(reader.readLatest(header, pixels), VideoRingBufferReader::ReadResult::Frame);
        QCOMPARE(pixels.size(), std::size_t(64 * 48 * 3));
        for (std::size_t i = 0; i < pixels.size(); ++i)
            QCOMPARE(pixels[i], testing::FakeDevice::byteOf(long(header.frameNumber) - 1, i));
        s.ui.click();
        QVERIFY(s.ui.idle());
        QTRY_COMPARE(s.count("info", QStringLiteral("Capture stopped")), 1);
        QVERIFY(!reader.captureActive());
        // With nothing running a stop still reports itself.
        Probe::settle(s.plugin);
        s.request(false);
        QTRY_COMPARE(s.count("info", QStringLiteral("Capture stopped")), 2);

        // A ring cut short ends the session, and the next start makes a new one.
        reader.detach();
        s.ui.click();
        QTRY_VERIFY(s.ui.capturing() && Probe::framesWritten(s.plugin).load() > 0);
        const int fd = ::shm_open(("/" + s.env.ringName).c_str(), O_RDWR, 0);
        QVERIFY(fd >= 0 && ::ftruncate(fd, 0) == 0);
        ::close(fd);
        QTRY_VERIFY(s.ui.idle());
        QCOMPARE(s.log.lines().filter(QStringLiteral("error Korvane: Capture stopped: the video ring buffer")).size(), 1);
        s.ui.click();
        QTRY_VERIFY(s.ui.capturing());
        QVERIFY2(reader.attach(s.env.ringName), reader.lastError().c_str());
        QCOMPARE(reader.waitForFrame(5s), VideoRingBufferReader::WaitResult::Frame);
    }

    void refusalsSayWhy()
    {
        // When the start is asked for (or the resolution stored) -> the error line.
        const std::pair<QString, QString> rows[] = {
            {"constructed", "Capture is not available: the plug-in has not been initialized"},
            {"shut down", "Capture is not available: the plug-in has been shut down"},
            {"no ring", "Capture is not available: the video ring buffer bad/name is not connected"},
            {"1920X1080", "Invalid resolution format"},
            {"4096x2160", "Capture size 4096x2160 needs 26542080 bytes per frame, more than a ring slot holds (16777216 bytes)"},
        };
        for (const auto& [when, error] : rows) {
            testing::FakeDeviceSession s("refusal", 64, 48, 200);
            s.env.store(QStringLiteral("videoSource"), kCam);
            s.env.store(QStringLiteral("captureResolution"), when.front().isDigit() ? when : QStringLiteral("64x48"));
            if (when == QLatin1String("no ring"))
                SharedMemoryManager::instance().setVideoRingBufferName(QStringLiteral("bad/name"));
            if (when != QLatin1String("constructed"))
                s.plugin.initialize();
            // Queued, as the host may ask: one queued just before shutdown is refused by
            // shutdown's own event processing.
            QMetaObject::invokeMethod(&s.plugin, "onCaptureToggleRequested", Qt::QueuedConnection, Q_ARG(bool, true));
            if (when == QLatin1String("shut down"))
                s.plugin.shutdown();
            Probe::settle(s.plugin);
            QVERIFY2(s.log.count(korvaneLine("error", error)) == 1, qPrintable(when));
            QVERIFY(!Probe::running(s.plugin));
            QVERIFY(s.plugin.device->copy(s.plugin.device->opens).empty()); // refused before the device is touched
        }
    }

    void whatComesWhileTheDeviceOpensWaitsForItsAnswer()
    {
        // While the device opens (and whether that succeeds or fails) the user picks another
        // device, rate or size, or refreshes the list: the session ends up on what the panel
        // shows, and the settings hold it. A second start the host asks for meanwhile is
        // queued, not refused: a panel made again offers no start of its own, and a stop
        // cancels the queued start. The user-interface thread never waits for the open.
        using Step = std::function<bool(Session&)>;
        const Step onTheTestSource = [](Session& s) {
            return s.ui.capturing() && Probe::testMode(s.plugin) && s.ui.devices()->currentData() == kTest
                && s.env.stored(QStringLiteral("videoSource")) == kTest;
        };
        const Step pickTheTestSource = [](Session& s) { return s.ui.choose(s.ui.devices(), kTest); };
        const Step startAgain = [](Session& s) {
            s.request(true);
            QCoreApplication::processEvents();
            return s.starting();
        };
        const std::tuple<bool, Step, Step> cases[] = {
            {true, pickTheTestSource, onTheTestSource},
            {false, pickTheTestSource, onTheTestSource},
            {true, [](Session& s) { return QTest::mouseClick(s.ui.refresh(), Qt::LeftButton), true; }, onTheTestSource},
            {true, [](Session& s) { return s.ui.choose(s.ui.frameRates(), 120) && s.ui.choose(s.ui.resolutions(), "640x480"); },
             [](Session& s) { // the device opened again, for both
                 return s.ui.capturing() && s.device.copy(s.device.opens).size() == 2 && Probe::sessionFrameRate(s.plugin) == 120
                     && s.count("warning", "Device 0: Fake Cam cannot deliver 640x480; capturing at 64x48 instead") == 1;
             }},
            {true,
             [&](Session& s) {
                 if (!startAgain(s))
                     return false;
                 s.panel.reset(); // the host deletes the panel and asks for a new one
                 s.usePanel(s.plugin.createWidget());
                 return s.starting();
             },
             [](Session& s) { return s.ui.capturing() && s.device.copy(s.device.opens).size() == 1; }},
            {false, [&](Session& s) { return startAgain(s) && s.request(false); },
             [](Session& s) {
                 return Probe::settle(s.plugin) && s.ui.idle() && !Probe::running(s.plugin)
                     && s.count("error", QStringLiteral("Failed to initialize capture for source: ") + kCam) == 1;
             }},
        };
        for (const auto& [opens, act, follows] : cases) {
            Session s;
            s.device.openable = opens ? std::set<int>{0} : std::set<int>{};
            s.device.openGate.close();
            s.ui.click();
            QTRY_COMPARE(s.device.openGate.held(), 1);
            QVERIFY(act(s));
            s.device.openGate.open();
            QTRY_VERIFY(follows(s));
            QVERIFY(!s.device.openGate.forced());
        }
    }

    void sourceChangesAndStopsEndTheirSessionsOnWorkers()
    {
        Session s(kTest);
        s.ui.click();
        QTRY_VERIFY(s.ui.capturing());
        s.choose(kTest); // the source in use: nothing restarts, the settings are saved
        s.request(true); // nothing to start: answered at once
        QVERIFY(s.ui.capturing());
        s.choose(kCam); // the restart runs what the panel shows: the camera, shown
        QTRY_VERIFY(s.ui.capturing() && !Probe::testMode(s.plugin));
        // A stop while the frame thread is stuck in a grab: the panel is idle at once, a start
        // is queued behind the stop, not refused, and a device change meanwhile is stored,
        // not joined.
        s.device.grabGate.close();
        QTRY_COMPARE(s.device.grabGate.held(), 1);
        s.ui.click();
        QVERIFY(s.ui.idle());
        s.ui.click();
        QCoreApplication::processEvents();
        QVERIFY(s.starting());
        s.choose(kTest);
        QCOMPARE(s.env.stored(QStringLiteral("videoSource")).toString(), kTest);
        s.device.grabGate.open();
        QTRY_VERIFY(s.ui.capturing() && Probe::testMode(s.plugin));
        QVERIFY(!s.device.grabGate.forced());
        // The device opened on a worker is closed on one, also by initialize, and by a
        // shutdown that waits for a device still opening: nothing outlives the device.
        s.choose(kCam);
        QTRY_VERIFY(s.ui.capturing() && !Probe::testMode(s.plugin));
        s.plugin.initialize();
        s.device.openGate.close(200ms);
        s.ui.click();
        QTRY_COMPARE(s.device.openGate.held(), 1);
        s.plugin.shutdown();
        QVERIFY(!Probe::running(s.plugin) && !Probe::videoCapture(s.plugin));
        QVERIFY(s.ui.idle());
        // Each session's device is opened, grabbed from and released on one thread of its own.
        const auto released = s.device.copy(s.device.releasedOn);
        QCOMPARE(released, s.device.copy(s.device.openedOn));
        QCOMPARE(released.size(), 3u);
        QVERIFY(!s.device.grabbedElsewhere);
        for (const auto& thread : released)
            QVERIFY(thread != std::this_thread::get_id());
    }

    void noThreadForARequestIsAnsweredInTheLog()
    {
        if (!testing::kCanFailThreadCreation)
            QSKIP("the sanitizers' own pthread_create stands in the way");
        Session s(kTest);
        testing::threadCreationFails = true;
        s.ui.click();
        testing::threadCreationFails = false;
        QTRY_VERIFY(s.ui.idle());
        QCOMPARE(s.log.lines().filter(QRegularExpression("^error Korvane: Cannot start capture: no thread for the "
                                                         "session \\(.+\\)$")).size(), 1);
        // A stop without its worker stops here instead.
        s.ui.click();
        QTRY_VERIFY(s.ui.capturing());
        testing::threadCreationFails = true;
        s.ui.click();
        testing::threadCreationFails = false;
        QVERIFY(Probe::settle(s.plugin) && s.ui.idle() && !Probe::running(s.plugin));
        QCOMPARE(s.count("info", QStringLiteral("Capture stopped")), 1);
    }

    void aStoredSourceFollowsItsDeviceToAnotherIndex()
    {
        // The camera came back as device 2 (another one took 0): the panel, the session and the
        // settings follow it, with or without a panel; two of that name would be a guess.
        const QString moved = QStringLiteral("2: Fake Cam");
        for (const bool withPanel : {true, false}) {
            testing::FakeDeviceSession s("replug", 64, 48, 200);
            s.plugin.extraDevices = {QStringLiteral("0: Other Cam"), moved};
            s.plugin.device->openable = {2};
            s.env.store(QStringLiteral("videoSource"), kCam);
            withPanel ? s.initializeWithPanel() : void(s.plugin.initialize());
            QMetaObject::invokeMethod(&s.plugin, "onCaptureToggleRequested", Q_ARG(bool, true));
            QVERIFY(Probe::settle(s.plugin) && Probe::running(s.plugin));
            QCOMPARE(s.plugin.device->copy(s.plugin.device->opens), (std::vector<std::pair<int, int>>{{2, cv::CAP_V4L2}}));
            QCOMPARE(s.env.stored(QStringLiteral("videoSource")).toString(), moved);
            QCOMPARE(s.log.count(korvaneLine("info", QStringLiteral("Source 0: Fake Cam is not listed any more; using 2: "
                                                                    "Fake Cam, the device of that name"))), 1);
            if (withPanel)
                QCOMPARE(s.ui.devices()->currentData().toString(), moved);
        }
    }

    void thePanelMadeForTheHost()
    {
        // Stored values the panel does not offer stay the plug-in's own.
        Session s(kTest, 45);
        QCOMPARE(s.ui.frameRates()->currentData().toInt(), 60);
        s.choose(kCam);
        QCOMPARE(s.env.stored(QStringLiteral("captureFrameRate")).toInt(), 45);
        // It warns before 1440p, then passes the choice on.
        const testing::ModalWatcher watcher([](QMessageBox*) {});
        QVERIFY(s.ui.choose(s.ui.resolutions(), QStringLiteral("2560x1440")));
        QCOMPARE(watcher.seen, 1);
        QCOMPARE(s.env.stored(QStringLiteral("captureResolution")).toString(), QStringLiteral("2560x1440"));
    }

    void theTestSourceRunsAtTheChosenRateAndThePanelShowsIt()
    {
        // 240 frames/s chosen: over two seconds read from the ring, consecutive frames come an
        // interval apart on average (those delayed by a preemption left out), nothing comes
        // faster, the frame thread sleeps between frames (a spin for the last millisecond of
        // each would take a quarter of a core), and the panel shows the rate every second.
        Session s(kTest, 240);
        QMetaObject::invokeMethod(&s.plugin, "onCaptureResolutionChanged", Q_ARG(QString, QStringLiteral("64x48")));
        VideoRingBufferReader reader;
        QVERIFY(reader.attach(s.env.ringName));
        s.ui.click();
        QTRY_VERIFY(s.ui.capturing() && Probe::framesWritten(s.plugin).load() > 0);
        const pid_t frameThread = bench::frameThreadId();
        const double cpuFrom = bench::threadCpuSeconds(frameThread);
        std::vector<std::int64_t> gaps;
        FrameSlot first, last;
        std::optional<std::uint32_t> firstOffset;
        int unsound = 0; // frames whose header or bars are wrong, or whose bars did not move as they should
        auto reading = std::async(std::launch::async, [&] {
            std::vector<std::uint8_t> pixels;
            FrameChecker checker(FrameChecker::Expect::OneTestPatternRun);
            for (FrameSlot header; last.timestampNs - first.timestampNs < 2'000'000'000;) {
                if (reader.waitForFrame(1s) != VideoRingBufferReader::WaitResult::Frame
                    || reader.readLatest(header, pixels) != VideoRingBufferReader::ReadResult::Frame)
                    continue;
                unsound += checker.check(header, pixels).has_value();
                if (first.frameNumber == 0)
                    first = header, firstOffset = findBarOffset(pixels.data(), 64, 48);
                else if (header.frameNumber == last.frameNumber + 1)
                    gaps.push_back(header.timestampNs - last.timestampNs);
                last = header;
            }
        });
        QList<int> shown;
        QTRY_VERIFY(s.ui.shownRate() > 0); // the first measurement, half a second to a second and a half in
        for (int second = 0; second < 3; ++second) {
            QTest::qWait(1000);
            shown << s.ui.shownRate();
        }
        QCOMPARE(reading.wait_for(10s), std::future_status::ready);
        const double cpu = (bench::threadCpuSeconds(frameThread) - cpuFrom) / 3;
        const double interval = 1e9 / 240;
        // A frame drawn late lengthens the gap before it and shortens the one after by as much:
        // the two are left out together.
        std::erase_if(gaps, [&](std::int64_t gap) { return std::abs(double(gap) - interval) > 0.5 * interval; });
        const double meanMs = gaps.empty() ? 0 : double(std::reduce(gaps.begin(), gaps.end())) / double(gaps.size()) / 1e6;
        const double rate = double(last.frameNumber - first.frameNumber) * 1e9 / double(last.timestampNs - first.timestampNs);
        qInfo("240 frames/s: mean gap %.3f ms over %zu, %.1f frames/s, frame thread %.1f %% of a core, shown %d %d %d",
              meanMs, gaps.size(), rate, cpu * 100, shown[0], shown[1], shown[2]);
        QVERIFY(gaps.size() > 240 && std::abs(meanMs * 1e6 - interval) < interval * 0.02);
        // Every frame the bars, moved two columns per frame from the first (ring frame k is
        // pattern frame k - 1), the host's own header fields left zero.
        QVERIFY(unsound == 0 && firstOffset == 2 * (first.frameNumber - 1) % 64);
        QCOMPARE(std::tuple(last.flags, last.colorSpace, last.gamma, last.exposure, last.gain), std::tuple(0u, 0u, 0.f, 0.f, 0.f));
        QVERIFY(rate < 240 * 1.01 && rate > 240 * 0.8);
        QVERIFY(frameThread > 0 && cpu < 0.05);
        for (const int value : shown)
            QVERIFY(value >= 200 && value <= 243);

        // The host deletes the panel: the plug-in goes on measuring without it, and stops.
        // Under half a second since the last measurement: nothing changes. Months into a
        // session the frame counter wraps: the rate stays the frames of that second.
        s.panel.reset();
        const double before = Probe::currentFps(s.plugin);
        Probe::fpsLastTime(s.plugin) = steadyNowNs() - 400'000'000;
        Probe::updateFPS(s.plugin);
        QCOMPARE(Probe::currentFps(s.plugin), before);
        auto& frames = Probe::framesWritten(s.plugin);
        frames.store(std::numeric_limits<int>::max() - 2);
        Probe::fpsLastCount(s.plugin) = std::uint64_t(std::int64_t(frames.load()));
        QTRY_VERIFY(frames.load() < 0);
        Probe::fpsLastTime(s.plugin) = steadyNowNs() - 1'000'000'000;
        Probe::updateFPS(s.plugin);
        QVERIFY(Probe::currentFps(s.plugin) >= 1 && Probe::currentFps(s.plugin) <= 1000);
        s.request(false);
        Probe::settle(s.plugin);
        QVERIFY(!Probe::running(s.plugin));
    }
};

QTEST_MAIN(SessionTest)
#include "test_session.moc"
