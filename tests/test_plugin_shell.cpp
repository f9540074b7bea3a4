// The plug-in as the host sees it: the metadata it reads before loading anything, the type
// answers and identity, and the lifecycle with its settings, on a settings file and a ring
// of the test's own.

#include "helpers/log_capture.h"
#include "helpers/plugin_fixture.h"
#include "helpers/plugin_probe.h"
#include "host/ring/video_ring_buffer_reader.h"

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QPluginLoader>
#include <QTest>

using namespace Vardel;
using Probe = KorvanePluginProbe;

namespace {

QJsonObject json(const char* text) { return QJsonDocument::fromJson(text).object(); }

// The three settings in the file right now, in the order they are written.
QStringList onDisk(const testing::PluginEnvironment& env)
{
    QStringList values;
    for (const char* key : {"videoSource", "captureFrameRate", "captureResolution"})
        values << env.stored(QLatin1String(key)).toString();
    return values;
}

} // namespace

class PluginShellTest : public QObject {
    Q_OBJECT

private slots:
    void identityAsTheHostReadsIt()
    {
        const QJsonObject block = QPluginLoader(QStringLiteral(KORVANE_PLUGIN_PATH)).metaData(); // nothing loaded
        QCOMPARE(block.value(QLatin1String("IID")).toString(), QStringLiteral("com.vardel.IUIPlugin"));
        QCOMPARE(block.value(QLatin1String("className")).toString(), QStringLiteral("KorvanePlugin"));
        QCOMPARE(block.value(QLatin1String("MetaData")).toObject(), json(R"({"author": "Vardel Team",
            "dependencies": [], "description": "Video capture using OpenCV with DirectShow device enumeration",
            "displayName": "Korvane", "features": ["korvane", "directshow_enumeration", "camera_support",
            "video_preview"], "platform": "windows", "priority": 50, "requiresAuthentication": false,
            "type": "video_source", "version": "1.0.0"})"));

        KorvanePlugin plugin;
        auto* host = qobject_cast<IUIPlugin*>(&plugin);
        QVERIFY(host && static_cast<void*>(qobject_cast<IPlugin*>(&plugin)) == static_cast<void*>(host));
        QCOMPARE((QStringList{host->pluginId(), host->name(), host->version()}),
                 (QStringList{QStringLiteral("korvane"), QStringLiteral("Korvane"), QStringLiteral("1.0.0")}));
        // Numbers and flags as JSON numbers and booleans: the host reads them by type.
        QCOMPARE(host->metadata(), json(R"({"type": "video_source", "displayName": "Korvane",
            "description": "Optimized video capture for modern gaming capture cards", "author": "Vardel Team",
            "version": "1.0.0", "requiresAuthentication": false, "platform": "windows", "priority": 50})"));
        host->retranslate(); // without a panel there is nothing to translate, and none is made for it
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void settingsAreTakenAsStoredAndWrittenWhole()
    {
        // Whether the host hands over its store, what is stored (source, frame rate,
        // resolution) -> what the plug-in takes.
        const std::tuple<const char*, bool, QVariantList, QStringList> rows[] = {
            {"none stored", true, {}, {"", "60", "1920x1080"}},
            {"a frame rate that is text", true, {"3: Capture: Card", "fast", 1234}, {"3: Capture: Card", "0", "1234"}},
            {"no settings manager", false, {"3: Cam", "30", "640x480"}, {"", "60", "1920x1080"}},
        };
        for (const auto& [what, manager, stored, loaded] : rows) {
            testing::PluginEnvironment env;
            for (qsizetype i = 0; i < stored.size(); ++i)
                env.store(QStringList{"videoSource", "captureFrameRate", "captureResolution"}[i], stored[i]);
            testing::LogCapture log;
            KorvanePlugin plugin;
            if (manager)
                plugin.setSettingsManager(env.settings.get());
            QVERIFY(plugin.initialize());
            QCOMPARE((QStringList{what, Probe::videoSource(plugin), QString::number(Probe::captureFrameRate(plugin)),
                                  Probe::captureResolution(plugin)}),
                     QStringList{what} + loaded);
            // Every change writes all three keys, also into a file that has lost them; without a
            // manager nothing is written, and only initialize says so.
            QFile::remove(env.iniPath);
            QVERIFY(QMetaObject::invokeMethod(&plugin, "onCaptureResolutionChanged", Q_ARG(QString, "1280x720")));
            QCOMPARE(onDisk(env), (manager ? QStringList{loaded[0], loaded[1], "1280x720"} : QStringList(3)));
            QFile::remove(env.iniPath);
            QVERIFY(QMetaObject::invokeMethod(&plugin, "onCaptureFrameRateChanged", Q_ARG(int, 240)));
            QCOMPARE(onDisk(env), (manager ? QStringList{loaded[0], "240", "1280x720"} : QStringList(3)));
            QCOMPARE(log.lines(), manager ? QStringList{} : QStringList{testing::korvaneLine("warning",
                                                              "SettingsManager not available, using defaults")});
        }
    }

    void shutdownWhileCapturingStopsAndEveryShutdownWrites()
    {
        testing::PluginEnvironment env;
        env.store(QStringLiteral("captureResolution"), QStringLiteral("64x48"));
        auto plugin = std::make_unique<KorvanePlugin>();
        plugin->setSettingsManager(env.settings.get());
        plugin->initialize();
        VideoRingBufferReader reader;
        QVERIFY2(reader.attach(env.ringName), reader.lastError().c_str());
        QVERIFY(reader.slotCount() == 8 && reader.slotBytes() == 16 * 1024 * 1024 && !reader.captureActive());
        QMetaObject::invokeMethod(plugin.get(), "onCaptureToggleRequested", Q_ARG(bool, true));
        Probe::settle(*plugin); // the start has been answered
        QVERIFY(Probe::running(*plugin) && reader.captureActive());

        const QStringList settings{"-1: Video Test", "60", "64x48"}; // the source the start chose is kept
        for (int call = 0; call < 3; ++call) {
            QFile::remove(env.iniPath);
            call < 2 ? plugin->shutdown() : plugin.reset();
            QCOMPARE(onDisk(env), settings);
            if (call == 0) {
                QVERIFY(!Probe::running(*plugin) && !reader.captureActive());
                QVERIFY(!Probe::hasTimer(*plugin) && !Probe::videoCapture(*plugin));
            }
        }
    }
};

QTEST_MAIN(PluginShellTest)
#include "test_plugin_shell.moc"
