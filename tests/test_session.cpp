// Capture sessions end to end: the panel's real controls, the worker threads, the ring
// read from another process, and the device faults a session must survive.

#include "capture/steady_clock.h"
#include "capture/write_rate.h"
#include "helpers/log_capture.h"
#include "helpers/panel_session.h"
#include "helpers/plugin_fixture.h"
#include "helpers/plugin_probe.h"
#include "host/ring/video_ring_buffer_reader.h"
#include "ui/korvane_widget.h"

#include <QFile>
#include <QPluginLoader>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <limits>

using namespace Vardel;
using namespace std::chrono_literals;
using Probe = KorvanePluginProbe;
using testing::korvaneLine;
using testing::PanelDriver;

namespace {

const QString kTest = QStringLiteral("-1: Video Test");
const QString& kCam = testing::kFakeCam;

struct Session : testing::PanelSession {
    Session() : PanelSession("plugin", 640, 480, 120) {}
};

} // namespace

class SessionTest : public QObject {
    Q_OBJECT

private slots:
    void testSourceThroughTheLoadedModule()
    {
        testing::PluginEnvironment env("e2e");
        testing::LogCapture log;
        QPluginLoader loader(QStringLiteral(KORVANE_PLUGIN_PATH));
        QObject* object = loader.instance();
        auto* plugin = qobject_cast<IUIPlugin*>(object);
        QVERIFY2(plugin, qPrintable(loader.errorString()));
        plugin->setSettingsManager(env.settings.get());
        QVERIFY(plugin->initialize());
        QWidget* panel = plugin->createWidget();
        panel->show();
        const PanelDriver ui(panel);
        QVERIFY(ui.idle());
        QVERIFY(ui.choose(ui.frameRates(), 120));
        QVERIFY(ui.choose(ui.resolutions(), QStringLiteral("1280x720")));
        QCOMPARE(env.stored(QStringLiteral("captureFrameRate")).toInt(), 120);

        QProcess peer;
        peer.start(QCoreApplication::applicationDirPath() + QStringLiteral("/ring_peer"),
                   {QStringLiteral("bars"), QString::fromStdString(env.ringName), QStringLiteral("40"),
                    QStringLiteral("20000")});
        QVERIFY(peer.waitForStarted());
        ui.click();
        QCOMPARE(ui.button()->text(), QStringLiteral("Starting..."));
        QVERIFY(!ui.button()->isEnabled());
        QTRY_VERIFY(ui.capturing());
        QVERIFY(peer.waitForFinished(20000));
        const QByteArray output = peer.readAllStandardOutput();
        QVERIFY2(peer.exitCode() == 0 && output.contains("size=1280x720"), output.constData());

        // About two seconds in, the panel shows the measured rate.
        QTRY_VERIFY_WITH_TIMEOUT(std::abs(ui.shownRate() - 120) <= 6, 4000);
        QCOMPARE(log.count(korvaneLine("info", QStringLiteral("Video Input Test mode at 1280x720 120fps"))), 1);

        ui.click();
        QVERIFY(ui.idle());
        QTRY_COMPARE(log.count(korvaneLine("info", QStringLiteral("Capture stopped"))), 1);
        VideoRingBufferReader reader;
        QVERIFY(reader.attach(env.ringName));
        QVERIFY(!reader.captureActive());

        plugin->shutdown();
        QCOMPARE(env.stored(QStringLiteral("videoSource")).toString(), kTest);
        delete object;
        delete panel;
    }

    void deviceSessionThroughThePanel()
    {
        Session s;
        s.start();
        QVERIFY(s.ui.choose(s.ui.devices(), kCam));
        QCOMPARE(s.env.stored(QStringLiteral("videoSource")).toString(), kCam);
        QVERIFY(s.ui.choose(s.ui.resolutions(), QStringLiteral("640x480")));
        VideoRingBufferReader reader;
        QVERIFY(reader.attach(s.env.ringName));
        s.ui.click();
        QTRY_VERIFY(s.ui.capturing());
        QCOMPARE(s.plugin.device->openCalls(), (std::vector<std::pair<int, int>>{{0, cv::CAP_V4L2}}));
        const auto sets = s.plugin.device->setCalls();
        QVERIFY(std::count(sets.begin(), sets.end(), std::pair<int, double>{cv::CAP_PROP_FRAME_WIDTH, 640.0}) == 1);
        QVERIFY(std::count(sets.begin(), sets.end(), std::pair<int, double>{cv::CAP_PROP_FPS, 60.0}) == 1);

        FrameSlot header;
        std::vector<std::uint8_t> pixels;
        QCOMPARE(reader.waitForFrame(2s), VideoRingBufferReader::WaitResult::Frame);
        QCOMPARE(reader.readLatest(header, pixels), VideoRingBufferReader::ReadResult::Frame);
        QCOMPARE(header.width, 640u);
        bool same = true;
        for (std::size_t i = 0; i < pixels.size() && same; ++i)
            same = pixels[i] == testing::FakeDevice::byteOf(long(header.frameNumber) - 1, i);
        QVERIFY(same);

        s.ui.click();
        QTRY_COMPARE(s.plugin.device->releases(), 1);
        QVERIFY(s.ui.idle());
    }

    void startsThatCannotBeServedAreRefused_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("resolution");
        QTest::addColumn<int>("fps");
        QTest::addColumn<QString>("error");
        QTest::newRow("capital X") << kTest << "1920X1080" << 60 << "Invalid resolution format";
        QTest::newRow("one number") << kTest << "1920" << 60 << "Invalid resolution format";
        QTest::newRow("three parts") << kTest << "1920x1080x2" << 60 << "Invalid resolution format";
        QTest::newRow("no width") << kTest << "x1080" << 60
                                  << "Invalid capture size 0x1080: width and height must be positive";
        QTest::newRow("larger than a slot") << kTest << "4096x2160" << 60
                                            << "Capture size 4096x2160 needs 26542080 bytes per frame, more than a ring "
                                               "slot holds (16777216 bytes)";
        QTest::newRow("no rate") << kTest << "640x480" << 0
                                 << "Invalid frame rate 0: at least 1 frame per second is needed";
        QTest::newRow("-10 is a device") << "-10: Cam" << "640x480" << 30
                                         << "Failed to initialize capture for source: -10: Cam";
    }

    void startsThatCannotBeServedAreRefused()
    {
        QFETCH(QString, source);
        QFETCH(QString, resolution);
        QFETCH(int, fps);
        QFETCH(QString, error);
        Session s;
        testing::LogCapture log;
        s.env.store(QStringLiteral("videoSource"), source);
        s.env.store(QStringLiteral("captureResolution"), resolution);
        s.env.store(QStringLiteral("captureFrameRate"), fps);
        s.start(false);
        QMetaObject::invokeMethod(&s.plugin, "onCaptureToggleRequested", Q_ARG(bool, true));
        QTRY_COMPARE(log.count(korvaneLine("error", error)), 1);
        QTest::qWait(20);
        QVERIFY(!Probe::running(s.plugin).load());
        QCOMPARE(Probe::videoSource(s.plugin), source);
    }

    void withoutPanelTheFirstDeviceIsTheTestSource()
    {
        Session s;
        testing::LogCapture log;
        s.start(false);
        QMetaObject::invokeMethod(&s.plugin, "onCaptureToggleRequested", Q_ARG(bool, true));
        QTRY_VERIFY(Probe::framesWritten(s.plugin).load() > 0);
        QVERIFY(Probe::testMode(s.plugin));
        QCOMPARE(Probe::videoSource(s.plugin), kTest);
        QMetaObject::invokeMethod(&s.plugin, "onCaptureToggleRequested", Q_ARG(bool, false));
        QTRY_COMPARE(log.count(korvaneLine("info", QStringLiteral("Capture stopped"))), 1);
        // A stop with nothing running still reports itself.
        QMetaObject::invokeMethod(&s.plugin, "onCaptureToggleRequested", Q_ARG(bool, false));
        QTRY_COMPARE(log.count(korvaneLine("info", QStringLiteral("Capture stopped"))), 2);
    }

    void aSourceChangeRestartsARunningSession()
    {
        Session s;
        s.start();
        QVERIFY(s.ui.choose(s.ui.resolutions(), QStringLiteral("640x480"))); // the camera's size
        s.ui.click();
        QTRY_VERIFY(s.ui.capturing());
        QVERIFY(Probe::testMode(s.plugin));
        QSignalSpy starting(s.ui.button(), &QPushButton::clicked); // the restart is not a click
        QMetaObject::invokeMethod(&s.plugin, "onVideoSourceChanged", Q_ARG(QString, kCam));
        QCOMPARE(s.ui.devices()->currentData().toString(), kCam);
        QTRY_VERIFY(s.ui.capturing());
        QTRY_VERIFY(Probe::framesWritten(s.plugin).load() > 3);
        QVERIFY(!Probe::testMode(s.plugin));
        QCOMPARE(s.plugin.device->openCalls().size(), 1u);
        QCOMPARE(s.env.stored(QStringLiteral("videoSource")).toString(), kCam);
        QCOMPARE(starting.count(), 0);

        // The same source again: nothing restarts, the settings are written all the same.
        QFile::remove(s.env.iniPath);
        QMetaObject::invokeMethod(&s.plugin, "onVideoSourceChanged", Q_ARG(QString, kCam));
        QVERIFY(QFile::exists(s.env.iniPath));
        QCOMPARE(s.plugin.device->openCalls().size(), 1u);
    }

    void anotherSourceWhileStoppedStartsNothing()
    {
        Session s;
        s.start(false);
        QMetaObject::invokeMethod(&s.plugin, "onVideoSourceChanged", Q_ARG(QString, kCam));
        QTest::qWait(30);
        QVERIFY(!Probe::running(s.plugin).load());
        QVERIFY(s.plugin.device->openCalls().empty());
        QCOMPARE(s.env.stored(QStringLiteral("videoSource")).toString(), kCam);
    }

    void racingStopsStopOnce()
    {
        Session s;
        s.start();
        QVERIFY(s.ui.choose(s.ui.devices(), kCam));
        s.ui.click();
        QTRY_VERIFY(s.ui.capturing());
        s.ui.click();                                                   // the stop worker...
        QMetaObject::invokeMethod(&s.plugin, "onVideoSourceChanged", Q_ARG(QString, kTest)); // ...and a source change
        s.plugin.shutdown();                                             // ...and shutdown
        QCOMPARE(s.plugin.device->releases(), 1);
        QVERIFY(!Probe::running(s.plugin).load());
        QVERIFY(s.ui.idle());
    }

    void shutdownWaitsForASlowOpen()
    {
        Session s;
        s.plugin.device->openDelay = 400ms;
        s.start();
        QVERIFY(s.ui.choose(s.ui.devices(), kCam));
        const auto clicked = std::chrono::steady_clock::now();
        s.ui.click();
        // The open happens on the start thread: the click returns at once.
        QVERIFY(std::chrono::steady_clock::now() - clicked < 100ms);
        QCOMPARE(s.ui.button()->text(), QStringLiteral("Starting..."));
        s.plugin.shutdown();
        QVERIFY(!Probe::running(s.plugin).load());
        QVERIFY(!Probe::videoCapture(s.plugin));
        QCOMPARE(s.plugin.device->releases(), 1);
        const int frames = Probe::framesWritten(s.plugin).load();
        QTest::qWait(30);
        QCOMPARE(Probe::framesWritten(s.plugin).load(), frames);
        QVERIFY(s.ui.idle()); // the start's late answer found the session over
        // Nothing starts after shutdown.
        QMetaObject::invokeMethod(&s.plugin, "onCaptureToggleRequested", Q_ARG(bool, true));
        QTRY_VERIFY(s.ui.idle());
        QVERIFY(!Probe::running(s.plugin).load());
    }

    void writeRateArithmetic()
    {
        QCOMPARE(writeRate(60, 1'000'000'000), 60.0);
        QVERIFY(qFuzzyCompare(writeRate(30, 1'499'999'999), 30 * 1000.0 / 1499));

        Session s;
        s.start();
        s.ui.click();
        QTRY_VERIFY(s.ui.capturing());
        const double before = Probe::currentFps(s.plugin);
        // Less than half a second since the last measurement: nothing changes.
        Probe::fpsLastTime(s.plugin) = steadyNowNs() - 400'000'000;
        const std::int64_t mark = Probe::fpsLastTime(s.plugin);
        Probe::updateFPS(s.plugin);
        QCOMPARE(Probe::currentFps(s.plugin), before);
        QCOMPARE(Probe::fpsLastTime(s.plugin), mark);
        // A second with exactly 50 frames more.
        Probe::fpsLastTime(s.plugin) = steadyNowNs() - 1'000'400'000;
        Probe::fpsLastCount(s.plugin) = std::uint64_t(Probe::framesWritten(s.plugin).load()) - 50;
        Probe::updateFPS(s.plugin);
        QVERIFY(Probe::currentFps(s.plugin) >= 49.0 && Probe::currentFps(s.plugin) <= 60.0);
        QVERIFY(s.ui.shownRate() >= 49);

        // Months into a session the frame counter wraps; the rate measured across the wrap
        // is still the number of frames in that second.
        auto& frames = Probe::framesWritten(s.plugin);
        Probe::updateFPS(s.plugin);
        frames.store(std::numeric_limits<int>::max() - 2);
        Probe::fpsLastCount(s.plugin) = std::uint64_t(std::int64_t(frames.load()));
        QTRY_VERIFY(frames.load() < 0);
        Probe::fpsLastTime(s.plugin) = steadyNowNs() - 1'000'000'000;
        Probe::updateFPS(s.plugin);
        QVERIFY2(Probe::currentFps(s.plugin) >= 1.0 && Probe::currentFps(s.plugin) <= 120.0,
                 qPrintable(QString::number(Probe::currentFps(s.plugin))));
        QVERIFY(s.ui.shownRate() >= 1 && s.ui.shownRate() <= 120);
    }

    void storedValuesInANewPanel()
    {
        {
            // 45 frames per second and a resolution in the wrong case are not on offer: the
            // panel keeps its entries, the plug-in its values.
            Session s;
            s.env.store(QStringLiteral("captureFrameRate"), 45);
            s.env.store(QStringLiteral("captureResolution"), QStringLiteral("1280X720"));
            s.start();
            QCOMPARE(s.ui.frameRates()->currentData().toInt(), 60);
            QCOMPARE(s.ui.resolutions()->currentData().toString(), QStringLiteral("1920x1080"));
            QMetaObject::invokeMethod(&s.plugin, "onVideoSourceChanged", Q_ARG(QString, kCam));
            QCOMPARE(s.env.stored(QStringLiteral("captureFrameRate")).toInt(), 45);
            QCOMPARE(s.env.stored(QStringLiteral("captureResolution")).toString(), QStringLiteral("1280X720"));
        }
        for (const QString& stored : {kCam, kTest}) {
            // The second entry is selected (one emission, one save); the first is already shown.
            Session s;
            s.env.store(QStringLiteral("videoSource"), stored);
            s.plugin.initialize();
            QFile::remove(s.env.iniPath);
            QWidget* created = s.plugin.createWidget();
            s.usePanel(created);
            QCOMPARE(s.ui.devices()->currentData().toString(), stored);
            QCOMPARE(QFile::exists(s.env.iniPath), stored == kCam);
            QCOMPARE(s.plugin.createWidget(), created);
        }
    }

    void aPanelMadeBeforeInitializeKeepsItsDefaults()
    {
        Session s;
        s.env.store(QStringLiteral("captureFrameRate"), 240);
        s.usePanel(s.plugin.createWidget());
        s.plugin.initialize();
        QCOMPARE(Probe::captureFrameRate(s.plugin), 240);
        QCOMPARE(s.ui.frameRates()->currentData().toInt(), 60);
    }

    void thePluginForgetsAPanelTheHostDeleted()
    {
        Session s;
        s.start();
        s.ui.click();
        QTRY_VERIFY(Probe::running(s.plugin).load());
        delete s.panel;
        s.panel = nullptr;
        Probe::fpsLastTime(s.plugin) -= 1'000'000'000;
        Probe::updateFPS(s.plugin);
        s.plugin.retranslate();
        QMetaObject::invokeMethod(&s.plugin, "onCaptureToggleRequested", Q_ARG(bool, false));
        QTRY_VERIFY(!Probe::running(s.plugin).load());
        // Asked again, the plug-in makes a new panel.
        s.usePanel(s.plugin.createWidget());
        // Made before the start's answer arrived, it shows the start under way until it does.
        QTRY_VERIFY(s.panel && s.ui.idle());
    }
};

QTEST_MAIN(SessionTest)
#include "test_session.moc"
