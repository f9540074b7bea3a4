// Arbitrary stored settings: a settings file of any bytes, or the plug-in's three keys
// stored as values of any type, read through a real SettingsManager. The plug-in is
// initialised on it, asked to start capturing (test pattern or the fake camera) and
// shut down, which saves the values back. Nothing may crash, and a session may only run
// on values the frame pump can serve.
//
// Input: one byte chooses how the host brings the plug-in up (mostly the settings are
// loaded into the running plug-in; one input in eight goes through shutdown and
// initialize, which also connects the 128 MiB ring anew), one byte chooses the file:
// 0 raw bytes, 1 raw bytes under "[Korvane]", 2 the three keys written by QSettings as
// values of fuzzed types (see valueOfAnyType).

#include "capture/start_parameters.h"
#include "helpers/fake_video_capture.h"
#include "helpers/plugin_probe.h"
#include "host/logging_service.h"
#include "host/settings_manager.h"
#include "host/shared_memory_manager.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QPoint>
#include <QRect>
#include <QSettings>
#include <QSize>
#include <QTemporaryDir>
#include <QUrl>

#include <fuzzer/FuzzedDataProvider.h>
#include <opencv2/core/utils/logger.hpp>

#include <chrono>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

using namespace Vardel;
using Probe = KorvanePluginProbe;

namespace {

constexpr std::uint64_t kSlotBytes = 16 * 1024 * 1024;
const char* const kKeys[] = {"videoSource", "captureFrameRate", "captureResolution"};

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// One plug-in for the whole run: connecting its 128 MiB ring for every input would take
// most of the run.
struct World {
    int argc = 1;
    char name[32] = "fuzz_settings_load";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    // On memory: every save syncs the file to its disk, and this runs thousands of saves.
    QTemporaryDir folder{QStringLiteral("/dev/shm/korvane-fuzz-settings-XXXXXX")};
    std::string ring = "korvane-fuzz-settings-" + std::to_string(::getpid());
    testing::FakeDevicePlugin plugin;
    long files = 0;

    World()
    {
        SharedMemoryManager::instance().setVideoRingBufferName(QString::fromStdString(ring));
        plugin.extraDevices = {QStringLiteral("0: Fake Cam"), QStringLiteral("1: Other Cam")};
        plugin.device->openable = {0, 1};
        plugin.device->width = 64;
        plugin.device->height = 48;
        plugin.initialize();
    }
    ~World()
    {
        plugin.shutdown();
        ::shm_unlink(("/" + ring).c_str());
    }
};

World& world()
{
    static World instance;
    return instance;
}

QString text(FuzzedDataProvider& input) { return QString::fromUtf8(input.ConsumeRandomLengthString(128).c_str()); }

QVariant valueOfAnyType(FuzzedDataProvider& input)
{
    switch (input.ConsumeIntegralInRange(0, 13)) {
    case 0: return {};
    case 1: return text(input);
    case 2: return input.ConsumeIntegral<int>();
    case 3: return input.ConsumeIntegral<qlonglong>();
    case 4: return input.ConsumeFloatingPoint<double>();
    case 5: return input.ConsumeBool();
    case 6: return QByteArray::fromStdString(input.ConsumeRandomLengthString(128));
    case 7: return QStringList{text(input), text(input)};
    case 8: return QSize(input.ConsumeIntegral<int>(), input.ConsumeIntegral<int>());
    case 9: // corners, not a size: QRect's own arithmetic would overflow on extreme sizes
        return QRect(QPoint(input.ConsumeIntegral<int>(), input.ConsumeIntegral<int>()),
                     QPoint(input.ConsumeIntegral<int>(), input.ConsumeIntegral<int>()));
    case 10: return QPoint(input.ConsumeIntegral<int>(), input.ConsumeIntegral<int>());
    case 11: return QDateTime::fromMSecsSinceEpoch(input.ConsumeIntegral<qint64>());
    case 12: return QVariantMap{{text(input), input.ConsumeIntegral<int>()}};
    default: return QVariantList{input.ConsumeIntegral<int>(), text(input), QUrl(text(input))};
    }
}

void writeSettingsFile(const QString& path, int kind, FuzzedDataProvider& input)
{
    if (kind == 2) {
        QSettings file(path, QSettings::IniFormat);
        for (const char* key : kKeys) {
            const QVariant value = valueOfAnyType(input);
            if (value.isValid())
                file.setValue(QStringLiteral("Korvane/") + QLatin1String(key), value);
        }
        return;
    }
    QFile file(path);
    require(file.open(QIODevice::WriteOnly));
    if (kind == 1)
        file.write("[Korvane]\n");
    const std::string rest = input.ConsumeRemainingBytesAsString();
    file.write(rest.data(), qint64(rest.size()));
}

// The start as the panel's button makes it, answered on this thread.
void attemptStart(KorvanePlugin& plugin)
{
    QMetaObject::invokeMethod(&plugin, "onCaptureToggleRequested", Q_ARG(bool, true));
    Probe::settle(plugin);
    if (!Probe::running(plugin).load())
        return;
    // Running: only on values the frame pump can serve.
    const std::uint32_t width = Probe::captureWidth(plugin), height = Probe::captureHeight(plugin);
    require(!captureLimitError(int(width), int(height), Probe::captureFrameRate(plugin), Probe::testMode(plugin), kSlotBytes));
    require(Probe::testMode(plugin) == isTestSource(Probe::videoSource(plugin)));
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    while (Probe::framesWritten(plugin).load() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    QMetaObject::invokeMethod(&plugin, "onCaptureToggleRequested", Q_ARG(bool, false));
    Probe::settle(plugin);
    require(!Probe::running(plugin).load());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Thousands of runs: keep the log and Qt's and OpenCV's warnings off the terminal.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    LoggingService::instance()->setEchoToStandardError(false);
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    world();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    World& w = world();
    const bool restart = data[0] % 8 == 0;
    const int kind = data[1] % 3;
    FuzzedDataProvider input(data + 2, size - 2);
    // A file of its own per input: QSettings caches what it read by file name.
    const QString path = w.folder.filePath(QStringLiteral("settings-%1.ini").arg(++w.files));
    writeSettingsFile(path, kind, input);
    {
        SettingsManager settings(path);
        w.plugin.setSettingsManager(&settings);
        if (restart) {
            w.plugin.shutdown();
            require(w.plugin.initialize());
        } else {
            Probe::loadSettings(w.plugin);
        }
        attemptStart(w.plugin);
        Probe::saveSettings(w.plugin); // the values go back into the file
        w.plugin.setSettingsManager(nullptr);
    }
    QFile::remove(path);
    QFile::remove(path + QStringLiteral(".lock"));
    return 0;
}
