// The capture engine below session control: the device list and what a device offers
// (the V4L2 capability reader on scripted drivers, the descriptors given back), the format
// chosen for a size and rate, a stored source found again after its device moved, the
// start parameters and their limits, opening a device (the size and rate it settles on,
// the hold-off after a failure), and the frame thread: the test pattern's drawing and
// pacing, and a device's frames good or bad (JPEG ones too) on their way into a ring.

#include "bench/thread_cpu.h"
#include "capture/delivery_watch.h"
#include "capture/format_choice.h"
#include "capture/jpeg_decoder.h"
#include "capture/pacing.h"
#include "capture/platform.h"
#include "capture/replug_match.h"
#include "capture/ring_geometry.h"
#include "capture/start_parameters.h"
#include "capture/test_pattern.h"
#include "capture/v4l2_device_modes.h"
#include "capture/v4l2_device_scan.h"
#include "helpers/fake_video_capture.h"
#include "helpers/log_capture.h"
#include "helpers/plugin_fixture.h"
#include "helpers/plugin_probe.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSize>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <map>
#include <opencv2/core.hpp>
#include <turbojpeg.h>

using namespace Vardel;
using namespace std::chrono_literals;
using Probe = KorvanePluginProbe;
using testing::korvaneLine;

namespace {

// Frame n as the drawing rule has it.
std::vector<std::uint8_t> byRule(std::uint32_t width, std::uint32_t height, std::uint32_t n)
{
    std::vector<std::uint8_t> frame;
    for (std::uint32_t i = 0; i < width * height; ++i)
        frame.insert(frame.end(), kColourBars[barAt(i % width, n, width)].begin(),
                     kColourBars[barAt(i % width, n, width)].end());
    return frame;
}

// Frame n painted misalign bytes past a 64-byte boundary; nothing when it wrote past its end.
std::vector<std::uint8_t> paint(std::uint32_t width, std::uint32_t height, std::uint32_t n, std::size_t misalign)
{
    TestPatternPainter painter(width, height);
    std::vector<std::uint8_t> buffer(painter.frameBytes() + 128, 0x5a);
    auto* frame = buffer.data() + (64 - reinterpret_cast<std::uintptr_t>(buffer.data()) % 64) % 64 + misalign;
    painter.draw(frame, n);
    return frame[painter.frameBytes()] == 0x5a ? std::vector(frame, frame + painter.frameBytes()) : decltype(buffer){};
}

constexpr std::uint32_t Y = V4L2_PIX_FMT_YUYV, M = V4L2_PIX_FMT_MJPEG, N = V4L2_PIX_FMT_NV12, R = V4L2_PIX_FMT_RGB24;
using Modes = std::vector<CaptureMode>;

// A driver's answers as tables: per format its size answers, per format and size its
// interval answers; nothing listed for a size answers ENOTTY, as the emulation does.
struct Driver {
    std::vector<std::uint32_t> formats;
    std::map<std::uint32_t, std::vector<v4l2_frmsizeenum>> sizes;
    std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>, std::vector<v4l2_frmivalenum>> intervals;

    static int answer(const auto& table, const auto& key, auto& argument)
    {
        const auto found = table.find(key);
        if (found == table.end())
            return ENOTTY;
        return argument.index < found->second.size() ? (argument = found->second[argument.index], 0) : EINVAL;
    }
    int operator()(unsigned long request, void* argument) const
    {
        auto& format = *static_cast<v4l2_fmtdesc*>(argument);
        auto& size = *static_cast<v4l2_frmsizeenum*>(argument);
        auto& interval = *static_cast<v4l2_frmivalenum*>(argument);
        if (request == VIDIOC_ENUM_FMT)
            return format.type == 1 && format.index < formats.size() ? (format.pixelformat = formats[format.index], 0)
                                                                     : EINVAL;
        if (request == VIDIOC_ENUM_FRAMESIZES)
            return answer(sizes, size.pixel_format, size);
        return answer(intervals, std::tuple(interval.pixel_format, interval.width, interval.height), interval);
    }
};

v4l2_frmsizeenum size(std::uint32_t width, std::uint32_t height) { return {0, 0, 1, {{width, height}}, {}}; }
// Discrete; for a range (type 2 or 3), {numerator, denominator} is its shortest.
v4l2_frmivalenum interval(std::uint32_t numerator, std::uint32_t denominator, std::uint32_t type = 1)
{
    return {0, 0, 0, 0, type, {{numerator, denominator}}, {}};
}

// Open descriptors of this process.
qsizetype openDescriptors() { return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System).size(); }

} // namespace

class CaptureTest : public QObject {
    Q_OBJECT

private slots:
    void nodesThatCaptureVideoAreListedByNumber()
    {
        // Each node answers with its card, the capabilities of its driver and, flagged by
        // V4L2_CAP_DEVICE_CAPS, its own: {driver, card, bus_info, version, capabilities, device_caps, reserved}.
        const std::uint32_t video = V4L2_CAP_VIDEO_CAPTURE, meta = V4L2_CAP_META_CAPTURE, own = V4L2_CAP_DEVICE_CAPS;
        using Caps = v4l2_capability;
        const std::map<QString, std::optional<Caps>> nodes{
            {"video0", Caps{{}, "Cam A", {}, 0, video | meta | own, video, {}}},
            {"video1", Caps{{}, "Cam A metadata", {}, 0, video | meta | own, meta, {}}},
            {"video2", Caps{{}, "Grabber: HDMI 1", {}, 0, video, 0, {}}},
            {"video3", Caps{{}, "Planar only", {}, 0, V4L2_CAP_VIDEO_CAPTURE_MPLANE, 0, {}}},
            {"video10", Caps{{}, "", {}, 0, video, 0, {}}}, {"video4", std::nullopt}}; // video4 cannot be opened
        QTemporaryDir dev;
        for (auto name : {"video0", "video1", "video2", "video3", "video10", "video4", "video007", "videox", "vbi0"})
            QFile(dev.filePath(QLatin1String(name))).open(QIODevice::WriteOnly);
        // A file that is no videoN node would be listed if it were asked.
        const auto query = [&](const QString& path) {
            const QString name = path.section(QLatin1Char('/'), -1);
            return nodes.contains(name) ? nodes.at(name) : Caps{{}, "Stray", {}, 0, video, 0, {}};
        };
        QCOMPARE(v4l2::deviceEntries(dev.path(), query), (QStringList{"0: Cam A", "2: Grabber: HDMI 1", "10: "}));
        // Asked for real, nodes that open but answer no ioctl (these files, /dev/null) or do not
        // open at all give every descriptor back.
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), dev.filePath(QStringLiteral("video11"))));
        const qsizetype before = openDescriptors();
        QVERIFY(v4l2::deviceEntries(dev.path(), v4l2::queryNode).isEmpty());
        for (const char* node : {"video0", "video11", "video12"})
            QVERIFY(v4l2::deviceModes(dev.filePath(QLatin1String(node)).toStdString()).empty());
        QCOMPARE(openDescriptors(), before);
    }

    void startParametersAndLimits()
    {
        const QString test = QStringLiteral("-1: Video Test"), cam = QStringLiteral("0: Cam");
        // Resolution, source, frame rate -> a part of the error line, or nothing when accepted.
        const std::tuple<const char*, QString, int, const char*> cases[] = {
            {"2560x1440", test, 240, ""},        {"1920X1080", test, 60, "format"},
            {"1920", test, 60, "format"},        {"1920x1080x2", cam, 60, "format"},
            {"x1080", test, 60, "0x1080"},       {"1920x-5", cam, 60, "1920x-5"},
            {"4096x2160", cam, 60, "26542080 bytes"}, {"1073741824x1073741824", cam, 60, "bytes"},
            {"7x100", test, 60, "width 7"},      {"4x4", cam, 30, ""}, // narrow is fine for a device
            {"640x480", test, 0, "frame rate 0"}, {"640x480", cam, 0, ""}, // a device paces itself
            {"640x480", test, 1000, ""},         {"640x480", test, 100000, "at most 1000 frames per second"},
            {"7x100", "-10: Cam", 0, ""},        // device -10 is no test source
        };
        for (const auto& [resolution, source, fps, refusal] : cases) {
            const auto size = parseResolution(QLatin1String(resolution)); // as the start worker reads them
            const QString error =
                !size ? QStringLiteral("format")
                      : captureLimitError(size->width, size->height, fps, isTestSource(source), kRingSlotBytes)
                            .value_or(QString());
            QVERIFY2(*refusal ? error.contains(QLatin1String(refusal)) : error.isEmpty(), resolution);
        }
    }

    void openingCapturesAtTheSizeAndRateTheDeviceSettlesOn()
    {
        const auto opened = [](const QString& what) {
            return korvaneLine("info", QStringLiteral("Opened Device %1 (BGR-only mode)").arg(what));
        };
        // Source, size asked (at 30 frames/s), size the device reports after the six calls, what it
        // offers, index opened (-1: none), format set after the six calls (0: none), log.
        const std::tuple<const char*, QSize, QSize, std::vector<CaptureMode>, int, std::uint32_t, QStringList> cases[] = {
            {"2: Grabber: HDMI 1", {1280, 720}, {1280, 720}, {}, 2, 0, {opened("2: Grabber: HDMI 1 at 1280x720 30fps")}},
            // One dimension changed; a '%' in the name is no placeholder.
            {"3: Tall %1 HD", {1920, 1080}, {1920, 1088}, {}, 3, 0,
             {korvaneLine("warning", "Device 3: Tall %1 HD cannot deliver 1920x1080; capturing at 1920x1088 instead"),
              opened("3: Tall %1 HD at 1920x1088 30fps")}},
            // Raw too slow at that size, its JPEG faster though not fast enough.
            {"2: Webcam", {64, 48}, {64, 48}, {{Y, 64, 48, 5}, {M, 64, 48, 15}}, 2, M,
             {korvaneLine("warning", "Device 2: Webcam cannot deliver 30fps at 64x48; capturing at 15fps instead"),
              opened("2: Webcam at 64x48 15fps")}},
            {"0: Huge", {640, 480}, {4096, 2160}, {}, 0, 0,
             {korvaneLine("error", "Device 0: Huge delivers 4096x2160 frames, more than a ring slot holds (16777216 bytes)")}},
            {"-2: Ghost", {640, 480}, {640, 480}, {}, -1, 0, {korvaneLine("error", "Failed to open video source: -2: Ghost")}}};
        for (const auto& [source, asked, settled, modes, index, format, lines] : cases) {
            testing::PluginEnvironment env("open");
            testing::FakeDevicePlugin plugin;
            plugin.device->openable = {0, 2, 3};
            plugin.device->width = settled.width();
            plugin.device->height = settled.height();
            plugin.device->modes = modes;
            plugin.initialize();
            testing::LogCapture log;
            const bool ok = lines.last().startsWith(QLatin1String("info"));
            QCOMPARE(Probe::openVideoSource(plugin, QLatin1String(source), asked.width(), asked.height(), 30), ok);
            QCOMPARE(log.lines(), lines);
            using Opens = std::vector<std::pair<int, int>>;
            QCOMPARE(plugin.device->copy(plugin.device->opens), (index < 0 ? Opens{} : Opens{{index, cv::CAP_V4L2}}));
            QCOMPARE(plugin.device->opened.load(), ok); // a device that cannot be used is closed again
            if (ok) {
                // The six calls in their order, then the format, where DirectShow keeps it.
                std::vector<std::pair<int, double>> sets{{cv::CAP_PROP_CONVERT_RGB, 1}, {cv::CAP_PROP_FRAME_WIDTH, asked.width()},
                    {cv::CAP_PROP_FRAME_HEIGHT, asked.height()}, {cv::CAP_PROP_FPS, 30}, {cv::CAP_PROP_BUFFERSIZE, 0},
                    {cv::CAP_PROP_READ_TIMEOUT_MSEC, 1}};
                if (format)
                    sets.emplace_back(cv::CAP_PROP_FOURCC, format);
                QCOMPARE(plugin.device->copy(plugin.device->sets), sets);
                QCOMPARE(QSize(int(Probe::captureWidth(plugin)), int(Probe::captureHeight(plugin))), settled);
            }
        }
    }

    void aFailedSourceIsHeldOffForThirtySeconds()
    {
        testing::PluginEnvironment env("holdoff");
        testing::LogCapture log;
        testing::FakeDevicePlugin plugin;
        plugin.device->openable = {1};
        plugin.initialize();
        // Seconds the last failure is moved back, source tried -> the opens the device has seen.
        // 29 s on, the failed source is refused without touching the device; another is tried
        // at once, and its success ends the hold-off; thirty seconds on, the failed source is
        // tried again, and held off again from that failure.
        const std::tuple<std::int64_t, const char*, std::size_t> tries[] = {
            {0, "0: Broken", 1}, {29, "0: Broken", 1}, {0, "1: Good", 2},
            {0, "0: Broken", 3}, {30, "0: Broken", 4}, {0, "0: Broken", 4}};
        for (const auto& [back, source, opens] : tries) {
            Probe::lastFailedTime(plugin) -= back * 1'000'000'000;
            Probe::openVideoSource(plugin, QLatin1String(source), 64, 48, 30);
            QVERIFY2(plugin.device->copy(plugin.device->opens).size() == opens, source);
        }
        QCOMPARE(log.count(korvaneLine("error", QStringLiteral("Failed to open video source: 0: Broken"))), 3);
    }

    void testPatternIsDrawnByTheRule()
    {
        // The eight bars, literally, blue-green-red: white, yellow, cyan, green, magenta, red, blue, black.
        QCOMPARE(paint(8, 1, 0, 0), (std::vector<std::uint8_t>{255, 255, 255, 0, 255, 255, 255, 255, 0, 0, 255, 0,
                                                                255, 0, 255, 0, 0, 255, 255, 0, 0, 0, 0, 0}));
        QCOMPARE(barAt(238, 1, 1920), 1u); // moving two columns to the left per frame
        // Rows of 1366 pixels are no multiple of a 64-byte store; 21 and 22 pixels are just
        // below and above one; 1366x771 is streamed past the caches.
        const std::array<std::uint32_t, 4> frames[] = {{1920, 9, 1, 0},   {1366, 7, 683, 0}, {1366, 5, 17, 5},
                                                       {21, 4, 9, 1},     {22, 4, 11, 3},    {1366, 771, 4001, 13}};
        for (const auto& [width, height, n, misalign] : frames) {
            QVERIFY2(paint(width, height, n, misalign) == byRule(width, height, n),
                     qPrintable(QStringLiteral("%1x%2 frame %3").arg(width).arg(height).arg(n)));
        }
    }

    void pacing()
    {
        FrameSchedule schedule{10, 0};
        // Clock after a frame -> when the next is due (0: at once). A late wake-up does not shift
        // the schedule; after a stall it restarts from then, with no frames to catch up.
        const std::pair<std::int64_t, std::int64_t> steps[] = {{3, 10}, {11, 20}, {55, 0}, {56, 65}};
        for (const auto& [now, due] : steps) {
            std::int64_t wakeAt = 0;
            QCOMPARE(schedule.next(now, wakeAt) ? wakeAt : 0, due);
        }
        // Half a second of waits at 240 frames/s: each ends soon after its deadline, never before,
        // and the thread sleeps meanwhile (spinning through the last stretch of each would show
        // as two percent of a core or more).
        platform::FrameWaiter waiter;
        std::vector<std::int64_t> late;
        const double cpuFrom = bench::threadCpuSeconds(::gettid());
        const std::int64_t from = steadyNowNs();
        for (std::int64_t due = from; due < from + 500'000'000; late.push_back(steadyNowNs() - due))
            waiter.waitUntil(due += 1'000'000'000 / 240);
        const double cpu = (bench::threadCpuSeconds(::gettid()) - cpuFrom) * 1e9 / double(steadyNowNs() - from);
        std::nth_element(late.begin(), late.begin() + late.size() / 2, late.end());
        qInfo("waits: %.2f ms late (median), %.2f %% of a core", double(late[late.size() / 2]) / 1e6, cpu * 100);
        QVERIFY(*std::min_element(late.begin(), late.end()) >= 0 && late[late.size() / 2] < 1'500'000 && cpu < 0.015);

        // A device's delivery: each change is reported once, and a failing device is retried after a pause.
        using C = DeliveryWatch::Change;
        constexpr std::int64_t s = 1'000'000'000;
        DeliveryWatch watch(0);
        QCOMPARE(watch.grabDeadline(0), std::optional<std::int64_t>(s)); // the first grab is cut short after a second
        // A grab at a time (false: failed) -> the change it makes, whether to pause before the
        // next, and the new time to cut a waiting grab short (0: unchanged). One lost frame is
        // retried at once, a second in a row after a pause; a second without a frame, counted
        // from the last one, is a stop; while silent, a waiting grab is cut short every quarter
        // second; flowing frames move that time on only once it has come within 0.75 s.
        const std::tuple<bool, std::int64_t, C, bool, std::int64_t> grabs[] = {
            {false, s / 2, C::None, false, 0},        {false, s - 1, C::None, true, 0},
            {false, s, C::Stopped, true, s + s / 4},  {false, 3 * s, C::None, true, 3 * s + s / 4},
            {true, 3 * s, C::Resumed, false, 4 * s},  {true, 3 * s + s / 10, C::None, false, 0},
            {true, 4 * s, C::None, false, 5 * s},     {false, 5 * s - 1, C::None, false, 0}};
        for (const auto& [frame, at, change, pause, deadline] : grabs) {
            QCOMPARE(frame ? watch.frameRead(at) : watch.grabFailed(at), change);
            QCOMPARE(watch.pauseBeforeRetry(), pause);
            QCOMPARE(watch.grabDeadline(at).value_or(0), deadline);
        }
    }

    void jpegFramesAreDecodedWholeOrNotAtAll()
    {
        // A 16x8 picture of one colour as a camera's JPEG frame: decoded at its size within what
        // JPEG allows; at another size, cut short or damaged, it is never taken for a frame.
        const cv::Mat picture(8, 16, CV_8UC3, cv::Scalar(192, 96, 32));
        unsigned char* encoded = nullptr;
        unsigned long bytes = 0;
        const tjhandle encoder = tjInitCompress();
        QVERIFY(tjCompress2(encoder, picture.data, 16, 0, 8, TJPF_BGR, &encoded, &bytes, TJSAMP_420, 90, 0) == 0);
        std::vector<std::uint8_t> jpeg(encoded, encoded + bytes);
        tjFree(encoded);
        tjDestroy(encoder);
        JpegDecoder decoder;
        cv::Mat slot(8, 16, CV_8UC3, cv::Scalar::all(0)); // black: a decode that wrote nothing shows
        QCOMPARE(decoder.decode(jpeg.data(), jpeg.size(), slot.data, 16, 8), JpegDecoder::Result::Decoded);
        QVERIFY(cv::norm(slot, picture, cv::NORM_INF) <= 2);
        QCOMPARE(decoder.decode(jpeg.data(), jpeg.size(), slot.data, 8, 8), JpegDecoder::Result::WrongSize);
        QCOMPARE(QSize(decoder.width(), decoder.height()), QSize(16, 8));
        QCOMPARE(decoder.decode(jpeg.data(), jpeg.size() / 2, slot.data, 16, 8), JpegDecoder::Result::Failed);
        jpeg[jpeg.size() - 8] ^= 0x5a; // in the picture's coded data
        QCOMPARE(decoder.decode(jpeg.data(), jpeg.size(), slot.data, 16, 8), JpegDecoder::Result::Failed);
    }

    void aFailingDevicePublishesNothingAndSaysSoOnce()
    {
        // From the first frame on, frames of the wrong size or a retrieve that throws. Grabs that
        // fail are the delivery watch's table in pacing() and, through the frame thread, the
        // camera suite's removed and stalled cases.
        using testing::FakeDevice;
        const std::pair<std::atomic<long> FakeDevice::*, const char*> faults[] = {
            {&FakeDevice::wrongSizeFrom,
             "^warning Korvane: Device delivered 56x48 frames \\(3 channels\\), expected 64x48 BGR; dropping them$"},
            {&FakeDevice::throwFrom,
             "^warning Korvane: Device failed to deliver a frame: .*fake back end failed while converting.*; dropping its frames$"}};
        for (const auto& [from, log] : faults) {
            testing::PluginEnvironment env("device");
            testing::FakeDevicePlugin plugin;
            plugin.initialize();
            FakeDevice& device = *plugin.device;
            (device.*from).store(0);
            QVERIFY(Probe::videoCapture(plugin)->open(0, cv::CAP_V4L2));
            testing::LogCapture lines;
            Probe::startLoop(plugin, false, 64, 48, 0);
            QTRY_VERIFY(device.grabs.load() > 2);
            if (from == &FakeDevice::throwFrom) {
                // Failing on every frame, as a back end may for an unplugged device: tried again after
                // a pause (one grab per 5 ms), not in a spin. The bound allows five times as many.
                const long grabs = device.grabs.load();
                const std::int64_t since = steadyNowNs();
                std::this_thread::sleep_for(200ms);
                QVERIFY(device.grabs.load() - grabs <= (steadyNowNs() - since) / 1'000'000 + 5);
            }
            QCOMPARE(Probe::framesWritten(plugin).load(), 0);
            (device.*from).store(-1); // healthy again: published without anyone restarting the session
            QTRY_VERIFY(Probe::framesWritten(plugin).load() > 0);
            Probe::stopLoop(plugin);
            const QString logged = lines.lines().join(QLatin1Char('\n'));
            QVERIFY2(QRegularExpression(QLatin1String(log)).match(logged).hasMatch(), qPrintable(logged));
        }
    }

    void capabilitiesAsTheDriverAnswers()
    {
        v4l2_frmsizeenum range{};
        range.type = V4L2_FRMSIZE_TYPE_STEPWISE;
        range.stepwise = {320, 1920, 16, 240, 1200, 16}; // 1080 is off its steps, 720 and 480 on them
        const Driver webcam{{Y, M},
                            {{Y, {size(1920, 1080), size(640, 480)}}, {M, {size(1920, 1080)}}},
                            {{{Y, 1920, 1080}, {interval(1, 5)}},
                             {{Y, 640, 480}, {interval(1, 15), interval(1, 30), interval(0, 0)}},
                             {{M, 1920, 1080}, {interval(1001, 30000), interval(1, 15)}}}};
        const Driver grabber{{N}, {{N, {range}}}, {{{N, 640, 480}, {interval(1, 60, V4L2_FRMIVAL_TYPE_CONTINUOUS)}}}};
        const Driver emulation{{M}, {{M, {size(1920, 1080)}}}, {}};
        const std::tuple<const char*, v4l2::Ioctl, Modes> cases[] = {
            {"discrete webcam", webcam, {{Y, 1920, 1080, 5}, {Y, 640, 480, 30}, {M, 1920, 1080, 30000.0 / 1001}}},
            {"size and rate ranges", grabber, {{N, 640, 480, 60}, {N, 1280, 720, 0}, {N, 1920, 1200, 0}}},
            {"rates unknown", emulation, {{M, 1920, 1080, 0}}},
            {"no formats", Driver{}, {}},
            {"a driver that answers every index", [](unsigned long, void*) { return 0; }, {}},
        };
        for (const auto& [what, driver, modes] : cases)
            QVERIFY2(v4l2::modesOf(driver) == modes, what);
    }

    void formatChosenForSizeAndRate()
    {
        const Modes usb2{{Y, 1920, 1080, 5}, {M, 1920, 1080, 15}, {M, 1920, 1080, 30}, {Y, 1280, 720, 10},
                         {M, 1280, 720, 60}};
        const Modes card{{R, 640, 480, 30}, {M, 1920, 1080, 60}, {Y, 1920, 1080, 60}};
        const Modes fast{{Y, 1280, 720, 120}, {M, 1280, 720, 120}, {N, 640, 480, 60000.0 / 1001}, {M, 640, 480, 60}};
        const Modes unknown{{Y, 1280, 720, 0}, {M, 1920, 1080, 0}, {M, 1280, 720, 0}};
        const Modes unusable{{V4L2_PIX_FMT_GREY, 1920, 1080, 60}, {V4L2_PIX_FMT_H264, 1920, 1080, 60},
                             {Y, 1920, 1080, 30}};
        const BackendFormats v4l2 = platform::backendFormats();
        const BackendFormats perSize{v4l2.tryOrder, false}; // picks again at each size, as DirectShow does
        // Offers, back end, size and rate asked -> FOURCC to set (0: none), rate reached, size offered.
        const std::tuple<const char*, Modes, BackendFormats, int, int, int, std::uint32_t, double, bool> cases[] = {
            {"USB 2 webcam at 1080p60: JPEG at 30", usb2, v4l2, 1920, 1080, 60, M, 30, true},
            {"USB 2 webcam at 1080p5: its own YUYV", usb2, v4l2, 1920, 1080, 5, 0, 5, true},
            {"USB 2 webcam at 720p30", usb2, v4l2, 1280, 720, 30, M, 60, true},
            {"uncompressed, not the first pick", card, v4l2, 1920, 1080, 60, Y, 60, true},
            {"the pick made at the size", card, perSize, 1920, 1080, 60, 0, 60, true},
            {"no 1080p, asked for it", fast, v4l2, 1920, 1080, 30, 0, 0, false},
            {"240 of a 120 device", fast, v4l2, 1280, 720, 240, 0, 120, true}, // uncompressed at equal rates
            {"59.94 reaches 60", fast, v4l2, 640, 480, 60, N, 60000.0 / 1001, true},
            {"rates unknown: its own pick", unknown, v4l2, 1280, 720, 60, 0, 0, true},
            {"rates unknown: the size decides", unknown, v4l2, 1920, 1080, 60, M, 0, true},
            {"grey and H264 do not count", unusable, v4l2, 1920, 1080, 60, 0, 30, true},
        };
        for (const auto& [what, offered, backend, width, height, fps, code, reached, sizeOffered] : cases) {
            const FormatChoice choice = chooseFormat(offered, width, height, fps, backend);
            QVERIFY2(choice.fourcc.value_or(0) == code && qFuzzyCompare(choice.fps + 1, reached + 1)
                         && choice.sizeOffered == sizeOffered,
                     what);
        }
    }

    void aMovedDeviceIsFoundByItsName()
    {
        const QString test = QStringLiteral("-1: Video Test");
        const QStringList listed{test, "0: Other", "3: Cam", "4: USB Camera: Front: 1080p", "5: ", "6: Twin", "7: Twin"};
        // Stored source -> the entry to use instead, empty for none.
        const std::pair<const char*, const char*> cases[] = {
            {"2: Cam", "3: Cam"}, {"1: USB Camera: Front: 1080p", "4: USB Camera: Front: 1080p"}, {"2: Gone", ""},
            {"2: Twin", ""},      {"2: ", ""}, {"3: Cam", ""}, {"1: cam", ""}, {"9: Video Test", ""}, {"Cam", ""}};
        for (const auto& [stored, expected] : cases)
            QCOMPARE(replugMatch(QLatin1String(stored), listed).value_or(QString()), QLatin1String(expected));
        QVERIFY(!replugMatch(test, {"2: Video Test"}));
    }
};

QTEST_MAIN(CaptureTest)
#include "test_capture.moc"
