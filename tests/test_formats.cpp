// What a device offers and what is made of it: the V4L2 capability reader on scripted
// drivers, the format chosen for a size and rate, a stored source found again after its
// device moved, and the descriptors the device list and the reader open given back.

#include "capture/format_choice.h"
#include "capture/platform.h"
#include "capture/replug_match.h"
#include "capture/v4l2_device_modes.h"
#include "capture/v4l2_device_scan.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <map>

using namespace Vardel;

namespace {

constexpr std::uint32_t Y = V4L2_PIX_FMT_YUYV, M = V4L2_PIX_FMT_MJPEG, N = V4L2_PIX_FMT_NV12, R = V4L2_PIX_FMT_RGB24;
using Modes = std::vector<CaptureMode>;

// A driver's answers as tables: per format its size answers, per format and size its
// interval answers; nothing listed for a size answers ENOTTY, as the emulation does.
struct Driver {
    std::vector<std::uint32_t> formats;
    std::map<std::uint32_t, std::vector<v4l2_frmsizeenum>> sizes;
    std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>, std::vector<v4l2_frmivalenum>> intervals;

    template <typename Answer>
    static int answer(const auto& table, const auto& key, Answer& argument)
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

class FormatsTest : public QObject {
    Q_OBJECT

private slots:
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
            {"capture card, YUYV 1080p60", {{Y, 1920, 1080, 60}}, v4l2, 1920, 1080, 60, 0, 60, true},
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

    void descriptorsOpenedForTheDeviceListAreGivenBack()
    {
        // Nodes that open but answer no ioctl (a file, /dev/null), and one that does not open.
        QTemporaryDir dev;
        QVERIFY(QFile(dev.filePath(QStringLiteral("video0"))).open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), dev.filePath(QStringLiteral("video1"))));
        const qsizetype before = openDescriptors();
        for (int round = 0; round < 3; ++round) {
            QVERIFY(v4l2::deviceEntries(dev.path(), v4l2::queryNode).isEmpty());
            for (const char* node : {"video0", "video1", "video2"})
                QVERIFY(v4l2::deviceModes(dev.filePath(QLatin1String(node)).toStdString()).empty());
        }
        QCOMPARE(openDescriptors(), before);
    }
};

QTEST_GUILESS_MAIN(FormatsTest)
#include "test_formats.moc"
