// Choosing and opening a source: the device list, the start parameters, and opening a
// device with its hold-off after a failure.

#include "capture/start_parameters.h"
#include "capture/v4l2_device_scan.h"
#include "helpers/fake_video_capture.h"
#include "helpers/log_capture.h"
#include "helpers/plugin_fixture.h"
#include "helpers/plugin_probe.h"

#include <QFile>
#include <QTest>

#include <cstring>

using namespace Vardel;
using Probe = KorvanePluginProbe;

class CaptureDevicesTest : public QObject {
    Q_OBJECT

private slots:
    void deviceNodesAreListedByNumberWithGaps()
    {
        QTemporaryDir dev;
        for (const char* name : {"video0", "video1", "video2", "video10", "video3", "video4", "video01", "videox", "vbi0"})
            QFile(dev.filePath(QLatin1String(name))).open(QIODevice::WriteOnly);
        // What each node answers: its card, and capabilities of the whole driver or, with
        // V4L2_CAP_DEVICE_CAPS, of the node itself.
        const auto node = [](const char* card, std::uint32_t caps, std::uint32_t deviceCaps = 0) {
            v4l2_capability capability{};
            std::strncpy(reinterpret_cast<char*>(capability.card), card, sizeof capability.card);
            capability.capabilities = caps | (deviceCaps ? V4L2_CAP_DEVICE_CAPS : 0);
            capability.device_caps = deviceCaps;
            return std::optional(capability);
        };
        const auto query = [&](const QString& path) -> std::optional<v4l2_capability> {
            const QString name = path.section(QLatin1Char('/'), -1);
            if (name == QLatin1String("video0"))
                return node("Cam A", V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE, V4L2_CAP_VIDEO_CAPTURE);
            if (name == QLatin1String("video1"))
                return node("Cam A metadata", V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE, V4L2_CAP_META_CAPTURE);
            if (name == QLatin1String("video2"))
                return node("Grabber: HDMI 1", V4L2_CAP_VIDEO_CAPTURE);
            if (name == QLatin1String("video3"))
                return node("Planar only", V4L2_CAP_VIDEO_CAPTURE_MPLANE);
            if (name == QLatin1String("video10"))
                return node("", V4L2_CAP_VIDEO_CAPTURE);
            return std::nullopt; // video4 cannot be opened; the others are no device nodes
        };
        QCOMPARE(v4l2::deviceEntries(dev.path(), query),
                 (QStringList{QStringLiteral("0: Cam A"), QStringLiteral("2: Grabber: HDMI 1"), QStringLiteral("10: ")}));
        QTemporaryDir empty;
        QVERIFY(v4l2::deviceEntries(empty.path(), query).isEmpty());
    }

    void theTestSourceComesFirst()
    {
        testing::FakeDevicePlugin plugin;
        plugin.extraDevices = {QStringLiteral("0: Same"), QStringLiteral("1: Same")};
        const QStringList sources = plugin.enumerateVideoDevices();
        QCOMPARE(sources, (QStringList{QStringLiteral("-1: Video Test"), QStringLiteral("0: Same"),
                                       QStringLiteral("1: Same")}));
        KorvanePlugin real;
        const QStringList machine = real.enumerateVideoDevices();
        QCOMPARE(machine.first(), QStringLiteral("-1: Video Test"));
        QCOMPARE(real.enumerateVideoDevices(), machine);
    }

    void startParametersAreReadStrictly()
    {
        const auto res = parseResolution(QStringLiteral("1920x1080"));
        QVERIFY(res && res->width == 1920 && res->height == 1080);
        for (const char* bad : {"1920X1080", "1920", "1920x1080x2", ""})
            QVERIFY2(!parseResolution(QLatin1String(bad)), bad);
        const auto noWidth = parseResolution(QStringLiteral("x1080"));
        QVERIFY(noWidth && noWidth->width == 0 && noWidth->height == 1080);

        QVERIFY(isTestSource(QStringLiteral("-1: Video Test")));
        QVERIFY(!isTestSource(QStringLiteral("-10: Camera")));
        QVERIFY(!isTestSource(QStringLiteral("1: -1: Camera")));
        QCOMPARE(deviceIndexOf(QStringLiteral("2: Grabber: HDMI 1")), 2);
        QCOMPARE(deviceIndexOf(QStringLiteral("cam: 4")), 0);
        QCOMPARE(deviceIndexOf(QStringLiteral("7")), 7);
    }

    void unusableSizesAndRatesAreRefusedByName()
    {
        constexpr std::uint64_t slot = 16 * 1024 * 1024;
        QVERIFY(!captureLimitError(2560, 1440, 240, true, slot));
        QVERIFY(!captureLimitError(8, 1, 1, true, slot));
        QVERIFY(!captureLimitError(4, 4, 30, false, slot)); // narrow is fine for a device
        const auto says = [](std::optional<QString> error, const char* text) {
            return error && error->contains(QLatin1String(text));
        };
        QVERIFY(says(captureLimitError(0, 1080, 60, true, slot), "0x1080"));
        QVERIFY(says(captureLimitError(1920, -5, 60, false, slot), "1920x-5"));
        QVERIFY(says(captureLimitError(4096, 2160, 60, false, slot), "4096x2160"));
        QVERIFY(says(captureLimitError(7, 100, 60, true, slot), "width 7"));
        QVERIFY(says(captureLimitError(640, 480, 0, true, slot), "frame rate 0"));
        QVERIFY(says(captureLimitError(640, 480, -30, true, slot), "frame rate -30"));
        QVERIFY(!captureLimitError(640, 480, 0, false, slot)); // a device paces itself
        QVERIFY(says(captureLimitError(1 << 30, 1 << 30, 60, false, slot), "bytes")); // no overflow
    }

    void openingAsksForTheFrameFormat()
    {
        testing::PluginEnvironment env("open");
        testing::LogCapture log;
        testing::FakeDevicePlugin plugin;
        plugin.device->openable = {2};
        plugin.device->width = 1280;
        plugin.device->height = 720;
        plugin.initialize();
        log.clear();
        // The device is chosen by the text before the first colon, not by its name.
        QVERIFY(Probe::openVideoSource(plugin, QStringLiteral("2: Grabber: HDMI 1"), 1280, 720, 120));
        QCOMPARE(plugin.device->openCalls(), (std::vector<std::pair<int, int>>{{2, cv::CAP_V4L2}}));
        const std::vector<std::pair<int, double>> expected = {
            {cv::CAP_PROP_CONVERT_RGB, 1.0}, {cv::CAP_PROP_FRAME_WIDTH, 1280.0}, {cv::CAP_PROP_FRAME_HEIGHT, 720.0},
            {cv::CAP_PROP_FPS, 120.0},       {cv::CAP_PROP_BUFFERSIZE, 0.0},     {cv::CAP_PROP_READ_TIMEOUT_MSEC, 1.0}};
        QCOMPARE(plugin.device->setCalls(), expected);
        QCOMPARE(Probe::captureWidth(plugin), 1280u);
        QCOMPARE(Probe::captureHeight(plugin), 720u);
        QCOMPARE(log.lines(), QStringList{QStringLiteral(
                                  "info Korvane: Opened Device 2: Grabber: HDMI 1 at 1280x720 120fps (BGR-only mode)")});
    }

    void aFailedSourceIsHeldOffForThirtySeconds()
    {
        testing::PluginEnvironment env("holdoff");
        testing::LogCapture log;
        testing::FakeDevicePlugin plugin;
        plugin.device->openable = {1};
        plugin.initialize();
        const QString broken = QStringLiteral("0: Broken");
        const auto opens = [&] { return plugin.device->openCalls().size(); };
        const QString failedLine = QStringLiteral("error Korvane: Failed to open video source: 0: Broken");

        QVERIFY(!Probe::openVideoSource(plugin, broken, 640, 480, 30));
        QCOMPARE(opens(), 1u);
        QCOMPARE(log.count(failedLine), 1);
        // Ten seconds later: refused without touching the device or logging.
        Probe::lastFailedTime(plugin) -= 10'000'000'000;
        const std::int64_t armedAt = Probe::lastFailedTime(plugin);
        QVERIFY(!Probe::openVideoSource(plugin, broken, 640, 480, 30));
        QCOMPARE(opens(), 1u);
        QCOMPARE(log.count(failedLine), 1);
        QCOMPARE(Probe::lastFailedTime(plugin), armedAt);

        // Another source is tried at once and, succeeding, clears the memory.
        QVERIFY(Probe::openVideoSource(plugin, QStringLiteral("1: Good"), 640, 480, 30));
        QCOMPARE(opens(), 2u);
        QVERIFY(Probe::lastFailedSource(plugin).isEmpty());
        QVERIFY(!Probe::openVideoSource(plugin, broken, 640, 480, 30));
        QCOMPARE(opens(), 3u);

        // Thirty seconds on, the same source is tried again and a new failure re-arms the hold-off.
        Probe::lastFailedTime(plugin) -= 30'000'000'000;
        const std::int64_t before = Probe::lastFailedTime(plugin);
        QVERIFY(!Probe::openVideoSource(plugin, broken, 640, 480, 30));
        QCOMPARE(opens(), 4u);
        QVERIFY(Probe::lastFailedTime(plugin) > before + 29'000'000'000);
        QCOMPARE(log.count(failedLine), 3);
    }
};

QTEST_MAIN(CaptureDevicesTest)
#include "test_capture_devices.moc"
