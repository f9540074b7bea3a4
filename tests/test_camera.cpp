// The plug-in on a real camera path: OpenCV's V4L2 back end reading the virtual camera
// (scripts/virtual-camera; CTest starts it, runs this suite under its V4L2 emulation and
// stops it), the panel driven as a user does, and vardel-ring reading the ring from
// another process. The camera delivers 1280x720 at 30 frames/s in one solid colour. A
// second camera sends JPEG at 1920x1080 and 30 frames/s; a program under the emulation
// sees the cameras of one PipeWire only, so CTest runs its case on its own, as
// test_camera_mjpg, with KORVANE_CAMERA_UNDER_TEST naming that camera's node.

#include "bench/stall_meter.h"
#include "bench/thread_cpu.h"
#include "capture/format_choice.h"
#include "capture/platform.h"
#include "helpers/plugin_fixture.h"
#include "helpers/plugin_probe.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>

#include <unistd.h>

using namespace Vardel;
using namespace std::chrono_literals;
using Probe = KorvanePluginProbe;
using testing::korvaneLine;

namespace {

const QString kNode = qEnvironmentVariable("KORVANE_CAMERA_UNDER_TEST", QStringLiteral(KORVANE_CAMERA_NODE));
const bool kMjpgRun = kNode == QStringLiteral(KORVANE_MJPG_CAMERA_NODE);
const QString kCam = kNode + (kMjpgRun ? QStringLiteral(": MJPG-Cam") : QStringLiteral(": Test-Cam"));
const QString kTest = QStringLiteral("-1: Video Test");
const QString kStopped = korvaneLine("warning", QStringLiteral("Device stopped delivering frames; retrying"));
const QString kCaptureStopped = korvaneLine("info", QStringLiteral("Capture stopped"));
// The longest the user-interface thread may go without its event loop: twice what one
// preemption takes on a loaded two-core machine, a fiftieth of what a join of a frame
// thread stuck in a grab takes (the back end's 10 s time-out).
constexpr double kMaxStallMs = 200.0;

// Waits with the event loop running, generously for a loaded machine.
bool until(const std::function<bool()>& done) { return bench::runEventLoopUntil(done, 20000); }

// Runs scripts/virtual-camera on this suite's camera, outside the V4L2 emulation; the
// event loop runs meanwhile, so the script's run is no stall of the plug-in's.
bool camera(const char* command)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("LD_PRELOAD"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KORVANE_VIRTUAL_CAMERA), {QLatin1String(command), QStringLiteral("--node"), kNode});
    return until([&] { return process.state() == QProcess::NotRunning; }) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

// The plug-in with its panel, the camera chosen at 30 frames/s.
struct CameraSession : testing::PluginFixture<KorvanePlugin> {
    bench::StallMeter meter{2ms};

    CameraSession() : PluginFixture("camera")
    {
        initializeWithPanel();
        choose(kCam);
        ui.choose(ui.frameRates(), 30);
        ui.choose(ui.resolutions(), QStringLiteral("1280x720"));
        meter.start();
    }

    bool choose(const QString& source) { return ui.choose(ui.devices(), source); }
    int frames() { return Probe::framesWritten(plugin).load(); }
    // Frames arrive in a session the panel shows, from the camera or the test source.
    bool capturing(bool test = false)
    {
        return until([&] { return ui.capturing() && Probe::testMode(plugin) == test && frames() > 0; });
    }
    bool start() { ui.click(); return capturing(); }
    // Until no frame has come for half a second: the frame thread waits in a grab.
    bool stalled()
    {
        const std::int64_t deadline = steadyNowNs() + 20'000'000'000;
        for (int before = -1; before != frames() && steadyNowNs() < deadline; bench::runEventLoopFor(500))
            before = frames();
        return steadyNowNs() < deadline;
    }
    bool logged(const QString& line, int times = 1) { return until([&] { return log.count(line) == times; }); }
    bool stallBounded(const char* what, double boundMs = kMaxStallMs)
    {
        qInfo("%s: longest stall of the user-interface thread %.1f ms", what, meter.longestMs());
        return meter.longestMs() < boundMs;
    }
    // Three seconds of the ring read from another process: the frames published (read or
    // skipped), or -1 unless every one was sound and of the size; the last one into last.
    int readRing(const QString& size, QImage& last)
    {
        QTemporaryDir folder;
        QProcess reader;
        reader.start(QCoreApplication::applicationDirPath() + QStringLiteral("/vardel-ring"),
                     {QString::fromStdString(env.ringName), QStringLiteral("--seconds"), QStringLiteral("3"),
                      QStringLiteral("--snapshot"), folder.filePath(QStringLiteral("last.png"))});
        const bool ended = until([&] { return reader.state() == QProcess::NotRunning; });
        const QString seen = QString::fromLocal8Bit(reader.readAll());
        const auto summary = QRegularExpression(QStringLiteral("frames=(\\d+) skipped=(\\d+) torn=\\d+ bad=0 size=") + size).match(seen);
        qInfo("vardel-ring: %s", qPrintable(summary.hasMatch() ? summary.captured(0) : seen));
        last = QImage(folder.filePath(QStringLiteral("last.png"))).convertToFormat(QImage::Format_BGR888);
        const bool sound = ended && reader.exitCode() == 0 && summary.hasMatch();
        return sound ? summary.captured(1).toInt() + summary.captured(2).toInt() : -1;
    }
};

// The largest difference of a byte of picture (packed rows) from the colour bgr.
int largestDifference(const QImage& picture, const std::array<int, 3>& bgr)
{
    int largest = 0;
    for (qsizetype i = 0; i < picture.sizeInBytes(); ++i)
        largest = std::max(largest, std::abs(picture.constBits()[i] - bgr[std::size_t(i % 3)]));
    return largest;
}

} // namespace

class CameraTest : public QObject {
    Q_OBJECT

private slots:
    // Leaves the camera as the next case needs it, also after a failure: present,
    // delivering, free for a new client.
    void cleanup() { camera("add"); camera("resume"); QVERIFY(camera("ready")); }

    void aSessionOnTheCamera()
    {
        CameraSession s;
        QVERIFY(s.start());
        // Every frame sound, and those published at the camera's rate; a buffer handed out
        // twice, or stale ones, would show as twice the rate.
        QImage picture;
        const int published = s.readRing(QStringLiteral("1280x720"), picture);
        QVERIFY(published > 60 && published < 135);

        // Stop, Start again, to the test source and back while capturing.
        s.ui.click();
        QVERIFY(s.ui.idle());
        QVERIFY(s.logged(kCaptureStopped) && camera("ready") && s.start());
        QVERIFY(s.choose(kTest) && s.capturing(true));
        QVERIFY(camera("ready") && s.choose(kCam) && s.capturing());
        QVERIFY(s.stallBounded("stop, start, source changes"));

        // The last frame the reader saw: 2060c0 after the camera's YUV round trip, blue 192,
        // green 96, red 32, each within 2.
        QCOMPARE(picture.size(), QSize(1280, 720));
        QVERIFY(largestDifference(picture, {192, 96, 32}) <= 2);

        // A size and a rate the camera cannot give: captured at its own, each said once, the
        // user's choice kept.
        s.ui.click();
        QVERIFY(s.logged(kCaptureStopped, 4) && camera("ready")); // one for each source change too
        QVERIFY(s.ui.choose(s.ui.resolutions(), QStringLiteral("1920x1080")) && s.ui.choose(s.ui.frameRates(), 60));
        QVERIFY(s.start());
        const QString cannot = QStringLiteral("Device %1 cannot deliver %2; capturing at %3 instead").arg(kCam);
        QCOMPARE(s.log.count(korvaneLine("warning", cannot.arg("1920x1080", "1280x720"))), 1);
        QCOMPARE(s.log.count(korvaneLine("warning", cannot.arg("60fps at 1280x720", "30fps"))), 1);
        QCOMPARE(s.ui.resolutions()->currentData().toString(), QStringLiteral("1920x1080"));
        QCOMPARE(s.env.stored(QStringLiteral("captureResolution")).toString(), QStringLiteral("1920x1080"));
        QCOMPARE(s.env.stored(QStringLiteral("captureFrameRate")).toInt(), 60);

        // The host exits while frames come: it waits for the frame thread's next frame.
        s.meter.start();
        s.plugin.shutdown();
        QVERIFY(s.stallBounded("shutdown while capturing"));
    }

    void anMjpgCameraAtItsRateInItsColours()
    {
        if (!kMjpgRun)
            QSKIP("test_camera_mjpg runs this, under the MJPG camera's emulation");
        // The emulation names JPEG at one size and no rate, so the back end's own pick stays.
        const std::vector<CaptureMode> modes = platform::deviceModes(kNode.toInt());
        QVERIFY(modes == (std::vector<CaptureMode>{{fourcc('M', 'J', 'P', 'G'), 1920, 1080, 0}}));
        QVERIFY(!chooseFormat(modes, 1920, 1080, 30, platform::backendFormats()).fourcc);

        CameraSession s;
        QVERIFY(s.ui.choose(s.ui.resolutions(), QStringLiteral("1920x1080")) && s.start());
        QImage picture;
        const int writtenBefore = s.frames();
        const int published = s.readRing(QStringLiteral("1920x1080"), picture);
        // Decoding 1080p JPEG takes about 12 ms of a core a frame: 30 frames/s where the
        // machine allows, at least half of that on a loaded one.
        qInfo("MJPG 1920x1080 at 30: %.1f frames/s written", (s.frames() - writtenBefore) / 3.0);
        QVERIFY(published > 45 && published < 135);

        // Every pixel of the last frame read, 2060c0 in BGR. A flat picture keeps only each
        // 8x8 block's DC term through JPEG, quantised in steps of 5 at jpegenc's quality 85
        // (under half a level of Y, Cb and Cr once scaled back), which the YCbCr conversions
        // both ways round to at most 2 per byte; measured: 0.
        const int largest = largestDifference(picture, {192, 96, 32});
        qInfo("MJPG colour: largest difference %d", largest);
        QVERIFY(picture.size() == QSize(1920, 1080) && largest <= 2);
    }

    void aRemovedSourceIsRetriedWithoutSpinning()
    {
        CameraSession s;
        // Paused first: the emulation takes a removed source's buffers away at once, also
        // from under a frame OpenCV is still converting (SIGSEGV in its colour conversion).
        QVERIFY(s.start() && camera("pause") && s.stalled() && camera("remove"));
        QVERIFY(s.logged(kStopped));
        const pid_t frameThread = bench::frameThreadId();
        const double cpuFrom = bench::threadCpuSeconds(frameThread);
        bench::runEventLoopFor(2000); // two seconds or a little more
        const double share = (bench::threadCpuSeconds(frameThread) - cpuFrom) / 2;
        qInfo("frame thread with the source gone: %.1f %% of a core", share * 100);
        QVERIFY(cpuFrom >= 0 && share < 0.15);
        QVERIFY(s.ui.capturing() && Probe::running(s.plugin) && s.log.count(kStopped) == 1);

        // Stopped before the source comes back: the emulation gives a device opened before
        // its source went no frames from the new one, and crashes closing it after that.
        s.ui.click();
        QVERIFY(s.logged(kCaptureStopped));
        QTest::mouseClick(s.ui.refresh(), Qt::LeftButton);
        QVERIFY(!s.ui.values(s.ui.devices()).contains(kCam));
        QVERIFY(camera("add"));
        QTest::mouseClick(s.ui.refresh(), Qt::LeftButton);
        QVERIFY(s.ui.values(s.ui.devices()).contains(kCam));
    }

    void aStalledCameraIsNoticedInASecondAndLetGo()
    {
        CameraSession s;
        // The grab waits in the back end (up to its 10 s time-out); the warning comes about a
        // second after the last frame all the same, and a resumed camera is published again.
        QVERIFY(s.start() && camera("pause"));
        const std::int64_t paused = steadyNowNs();
        QVERIFY(s.logged(kStopped) && s.ui.capturing());
        const double warnedAfter = double(steadyNowNs() - paused) / 1e9;
        qInfo("stall warning %.2f s after the camera paused", warnedAfter);
        QVERIFY(warnedAfter < 2.0);
        QVERIFY(camera("resume") && s.logged(korvaneLine("info", QStringLiteral("Device delivers frames again"))));

        // Stop, Start and another source while the camera stays paused: idle at once, the
        // session thread gone within about a second, the start queued behind it.
        QVERIFY(camera("pause") && s.stalled());
        const std::int64_t stop = steadyNowNs();
        s.ui.click();
        QVERIFY(s.ui.idle());
        s.ui.click();
        QVERIFY(s.choose(kTest) && s.ui.button()->text() == QStringLiteral("Starting..."));
        QVERIFY(s.logged(kCaptureStopped, 1) && s.capturing(true));
        const double stoppedAfter = double(steadyNowNs() - stop) / 1e9;
        qInfo("stop with a paused camera: the test source runs %.2f s after the click", stoppedAfter);
        QVERIFY(stoppedAfter < 2.5);
        QVERIFY(s.stallBounded("source change, stop and start with a blocked grab"));

        // The host exits while a grab waits.
        QVERIFY(camera("resume") && camera("ready") && s.choose(kCam) && s.capturing());
        QVERIFY(camera("pause") && s.stalled());
        s.meter.start();
        s.plugin.shutdown();
        QVERIFY(s.stallBounded("shutdown with a blocked grab", 2500));
    }

    void theHostExitsOnTimeWithAPausedCamera()
    {
        // vardel-host under the same emulation (inherited from this suite), the camera paused a
        // second into its three: it exits on time, having read the frames before the pause.
        QTemporaryDir folder;
        QProcess host;
        host.start(QCoreApplication::applicationDirPath() + QStringLiteral("/vardel-host"),
                   {QStringLiteral("--headless"), QStringLiteral("--source"), kCam, QStringLiteral("--fps"),
                    QStringLiteral("30"), QStringLiteral("--resolution"), QStringLiteral("1280x720"),
                    QStringLiteral("--seconds"), QStringLiteral("3"), QStringLiteral("--settings"),
                    folder.filePath(QStringLiteral("s.ini")), QStringLiteral("--ring-name"),
                    QString::fromStdString(testing::uniqueRingName("exit"))});
        const std::int64_t started = steadyNowNs();
        bench::runEventLoopFor(1200);
        QVERIFY(camera("pause"));
        QVERIFY(until([&] { return host.state() == QProcess::NotRunning; }));
        const double took = double(steadyNowNs() - started) / 1e9;
        qInfo("vardel-host --seconds 3 with the camera paused after a second: exited after %.2f s", took);
        QVERIFY2(host.exitCode() == 0 && took < 6.0, host.readAllStandardError().constData());
    }
};

QTEST_MAIN(CameraTest)
#include "test_camera.moc"
