// Capture devices that misbehave during a session, driven through the panel: the ring
// only ever receives complete frames of the right size, the panel stays responsive and
// truthful, and every failure ends in one clear log line instead of a crash.

#include "bench/stall_meter.h"
#include "helpers/log_capture.h"
#include "helpers/panel_session.h"
#include "helpers/plugin_probe.h"
#include "host/ring/video_ring_buffer_reader.h"

#include <QTest>
#include <QToolButton>

using namespace Vardel;
using namespace std::chrono_literals;
using Probe = KorvanePluginProbe;
using testing::korvaneLine;
using Reader = VideoRingBufferReader;
using testing::PanelDriver;

namespace {

const QString& kCam = testing::kFakeCam;

// The panel's user-interface thread may not go without its event loop for longer than this.
constexpr double kMaxStallMs = 50.0;

// The fake camera chosen in a panel that is up.
struct CameraSession : testing::PanelSession {
    CameraSession() : PanelSession("devfault", 160, 120, 200)
    {
        // A size the panel does not offer stays the plug-in's own: small frames, quick checks.
        env.store(QStringLiteral("captureResolution"), QStringLiteral("160x120"));
        env.store(QStringLiteral("videoSource"), kCam);
        start();
    }
};

// The rate the panel shows after one more measurement over a second with no new frame.
int rateAfterAQuietSecond(KorvanePlugin& plugin, const PanelDriver& ui)
{
    Probe::fpsLastTime(plugin) -= 1'000'000'000;
    Probe::updateFPS(plugin); // takes in whatever was published so far
    Probe::fpsLastTime(plugin) -= 1'000'000'000;
    Probe::updateFPS(plugin);
    return ui.shownRate();
}

} // namespace

class DeviceFaultTest : public QObject {
    Q_OBJECT

private slots:
    void aDeviceThatGoesBadMidSessionPublishesNothingMore_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("warning"); // the one line the fault leaves, or empty
        QTest::newRow("stops delivering") << "stop" << "";
        QTest::newRow("wrong size") << "size"
                                    << "Device delivered 152x120 frames (3 channels), expected 160x120 BGR; dropping them";
        QTest::newRow("back end throws") << "throw" << "fake back end failed while converting a frame";
    }

    void aDeviceThatGoesBadMidSessionPublishesNothingMore()
    {
        QFETCH(QString, fault);
        QFETCH(QString, warning);
        constexpr long kGoodFrames = 12;
        CameraSession s;
        testing::LogCapture log;
        auto& device = *s.plugin.device;
        (fault == QLatin1String("stop")   ? device.failGrabsFrom
         : fault == QLatin1String("size") ? device.wrongSizeFrom
                                          : device.throwFrom) = kGoodFrames;
        Reader reader;
        QVERIFY(reader.attach(s.env.ringName));

        s.ui.click();
        QTRY_VERIFY(s.ui.capturing());
        // The device keeps being asked well past its last good frame.
        QTRY_VERIFY(device.grabs.load() > kGoodFrames + 100);

        QCOMPARE(Probe::framesWritten(s.plugin).load(), int(kGoodFrames));
        QCOMPARE(reader.latestFrameNumber(), std::uint64_t(kGoodFrames));
        FrameSlot header;
        std::vector<std::uint8_t> pixels;
        QCOMPARE(reader.readLatest(header, pixels), Reader::ReadResult::Frame);
        QCOMPARE(header.width, 160u);
        QCOMPARE(pixels.size(), std::size_t(160 * 120 * 3));
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            if (pixels[i] != testing::FakeDevice::byteOf(kGoodFrames - 1, i))
                QFAIL(qPrintable(QStringLiteral("byte %1 of the last good frame differs").arg(i)));
        }
        // Nothing stale is published again: a waiting reader hears of no frame.
        QCOMPARE(reader.waitForFrame(100ms), Reader::WaitResult::Timeout);
        QVERIFY(s.ui.capturing());
        QCOMPARE(rateAfterAQuietSecond(s.plugin, s.ui), 0);
        // At most one line per session, however many frames went wrong.
        const QStringList warnings = log.lines().filter(QStringLiteral("warning Korvane: "));
        QCOMPARE(warnings.size(), warning.isEmpty() ? 0 : 1);
        if (!warning.isEmpty())
            QVERIFY2(warnings.first().contains(warning), qPrintable(warnings.first()));

        // The user stops the session: the device is released as usual.
        s.ui.click();
        QVERIFY(s.ui.idle());
        QTRY_COMPARE(device.releases(), 1);
        QTRY_COMPARE(log.count(korvaneLine("info", QStringLiteral("Capture stopped"))), 1);

        // Healthy again, the device delivers into the ring once more.
        device.failGrabsFrom = -1;
        device.wrongSizeFrom = -1;
        device.throwFrom = -1;
        s.ui.click();
        QTRY_VERIFY(s.ui.capturing());
        QCOMPARE(reader.waitForFrame(5s), Reader::WaitResult::Frame);
        QCOMPARE(reader.readLatest(header, pixels), Reader::ReadResult::Frame);
        QVERIFY(header.frameNumber > std::uint64_t(kGoodFrames));
    }

    void anOpenThatThrowsIsAFailedOpen()
    {
        CameraSession s;
        testing::LogCapture log;
        s.plugin.device->openThrows = true;
        s.ui.click();
        QTRY_VERIFY(s.ui.idle());
        QTRY_COMPARE(log.count(korvaneLine("error", QStringLiteral("Failed to initialize capture for source: ") + kCam)), 1);
        QCOMPARE(log.count(korvaneLine("error", QStringLiteral("Failed to open video source: ") + kCam)), 1);
        QVERIFY(!Probe::running(s.plugin).load());
        // Held off like any failed open.
        QCOMPARE(Probe::lastFailedSource(s.plugin), kCam);
        s.ui.click();
        QTRY_COMPARE(log.count(korvaneLine("error", QStringLiteral("Failed to initialize capture for source: ") + kCam)), 2);
        QCOMPARE(s.plugin.device->openCalls().size(), 1u);
    }

    void aSlowOpenLeavesThePanelResponsive()
    {
        CameraSession s;
        s.plugin.device->openDelay = 3s;
        bench::StallMeter meter(2ms);
        meter.start();

        s.ui.click();
        QCOMPARE(s.ui.button()->text(), QStringLiteral("Starting..."));
        // While the device opens the user picks another rate (its save costs what the disk
        // takes, open or not) and refreshes the list...
        bench::runEventLoopFor(300);
        meter.excluding([&] { QVERIFY(s.ui.choose(s.ui.frameRates(), 120)); });
        QTest::mouseClick(s.ui.refresh(), Qt::LeftButton);
        s.plugin.retranslate();
        // ...the host closes the panel and opens it again (building it costs the same at any
        // time): the new one shows the start under way and offers no second one...
        bench::runEventLoopFor(300);
        meter.excluding([&] {
            delete s.panel;
            s.usePanel(s.plugin.createWidget());
            s.panel->show();
        });
        QCOMPARE(s.ui.button()->text(), QStringLiteral("Starting..."));
        QVERIFY(!s.ui.button()->isEnabled());
        // ...and the host asks to stop and to start again, as a global shortcut would.
        bench::runEventLoopFor(300);
        QMetaObject::invokeMethod(&s.plugin, "onCaptureToggleRequested", Q_ARG(bool, false));
        bench::runEventLoopFor(100);
        QMetaObject::invokeMethod(&s.plugin, "onCaptureToggleRequested", Q_ARG(bool, true));
        QVERIFY(bench::runEventLoopUntil([&] { return s.ui.capturing(); }, 10000));
        const double worst = meter.longestMs();
        qInfo("longest stall of the user-interface thread while the device opened: %.1f ms", worst);
        QVERIFY2(worst < kMaxStallMs, qPrintable(QStringLiteral("%1 ms").arg(worst)));

        // The start asked for during the open joined it: one open, one session.
        QCOMPARE(s.plugin.device->openCalls().size(), 1u);
        QVERIFY(Probe::running(s.plugin).load());
        QTRY_VERIFY(Probe::framesWritten(s.plugin).load() > 0);
    }

    void aStartQueuedAtShutdownNeverOutlivesTheDevice()
    {
        // A start request still in the event queue when the host shuts the plug-in down is
        // delivered by shutdown itself: it must end there, before the device is deleted.
        CameraSession s;
        s.plugin.device->openDelay = 300ms;
        QMetaObject::invokeMethod(&s.plugin, "onCaptureToggleRequested", Qt::QueuedConnection, Q_ARG(bool, true));
        s.plugin.shutdown();
        QVERIFY(!Probe::videoCapture(s.plugin));
        QVERIFY(!Probe::running(s.plugin).load());
        const int frames = Probe::framesWritten(s.plugin).load();
        QTest::qWait(400);
        QVERIFY(!Probe::running(s.plugin).load());
        QCOMPARE(Probe::framesWritten(s.plugin).load(), frames);
        QVERIFY(!s.plugin.device->opened.load());
    }

    void aDeviceThatNeverOpensIsHeldOff()
    {
        CameraSession s;
        testing::LogCapture log;
        s.plugin.device->openable = {};
        s.plugin.device->openDelay = 500ms;
        const QString openFailed = korvaneLine("error", QStringLiteral("Failed to open video source: ") + kCam);
        bench::StallMeter meter(2ms);
        meter.start();

        // The user's click, then the host asking for the same start again and again while it opens.
        s.ui.click();
        for (int i = 0; i < 3; ++i) {
            bench::runEventLoopFor(100);
            QMetaObject::invokeMethod(&s.plugin, "onCaptureToggleRequested", Q_ARG(bool, true));
        }
        QVERIFY(bench::runEventLoopUntil([&] { return log.count(openFailed) == 1 && s.ui.idle(); }, 5000));
        QVERIFY2(meter.longestMs() < kMaxStallMs, qPrintable(QStringLiteral("%1 ms").arg(meter.longestMs())));

        // Within the hold-off every start is refused without touching the device.
        for (int i = 0; i < 4; ++i) {
            s.ui.click();
            QVERIFY(bench::runEventLoopUntil([&] { return s.ui.idle(); }, 5000));
        }
        QVERIFY(bench::runEventLoopUntil([&] { return !Probe::startPending(s.plugin); }, 5000));
        QCOMPARE(s.plugin.device->openCalls().size(), 1u);
        QCOMPARE(log.count(openFailed), 1);

        // Thirty seconds after the failed open the device is tried again, and held off anew.
        Probe::lastFailedTime(s.plugin) -= 30'000'000'000;
        s.ui.click();
        QVERIFY(bench::runEventLoopUntil([&] { return log.count(openFailed) == 2 && s.ui.idle(); }, 5000));
        QCOMPARE(s.plugin.device->openCalls().size(), 2u);
        s.ui.click();
        QVERIFY(bench::runEventLoopUntil([&] { return s.ui.idle() && !Probe::startPending(s.plugin); }, 5000));
        QCOMPARE(s.plugin.device->openCalls().size(), 2u);
        QCOMPARE(log.countContaining(QStringLiteral("Failed to open video source")), 2);
        QVERIFY(meter.longestMs() < kMaxStallMs);
    }
};

QTEST_MAIN(DeviceFaultTest)
#include "test_device_faults.moc"
