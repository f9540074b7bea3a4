// Initialise, settings, shut down and destroy, on a real settings file and a real ring.

#include "helpers/fake_video_capture.h"
#include "helpers/log_capture.h"
#include "helpers/plugin_fixture.h"
#include "helpers/plugin_probe.h"
#include "host/ring/video_ring_buffer_reader.h"

#include <QFile>
#include <QTest>

using namespace Vardel;
using Probe = KorvanePluginProbe;

class PluginLifecycleTest : public QObject {
    Q_OBJECT

private slots:
    void defaultsAreStoredOnFirstSave()
    {
        testing::PluginEnvironment env;
        testing::LogCapture log;
        {
            KorvanePlugin plugin;
            plugin.setSettingsManager(env.settings.get());
            QVERIFY(plugin.initialize());
            QCOMPARE(Probe::videoSource(plugin), QString());
            QCOMPARE(Probe::captureFrameRate(plugin), 60);
            QCOMPARE(Probe::captureResolution(plugin), QStringLiteral("1920x1080"));
            QVERIFY(!QFile::exists(env.iniPath));
            plugin.shutdown();
        }
        QCOMPARE(env.stored(QStringLiteral("videoSource")).toString(), QString());
        QCOMPARE(env.stored(QStringLiteral("captureFrameRate")).toInt(), 60);
        QCOMPARE(env.stored(QStringLiteral("captureResolution")).toString(), QStringLiteral("1920x1080"));
        QCOMPARE(log.countContaining(QStringLiteral("SettingsManager")), 0);
    }

    void storedValuesAreTakenAsTheyAre()
    {
        testing::PluginEnvironment env;
        env.store(QStringLiteral("videoSource"), QStringLiteral("3: Capture: Card"));
        env.store(QStringLiteral("captureFrameRate"), QStringLiteral("fast"));
        env.store(QStringLiteral("captureResolution"), 1234);
        KorvanePlugin plugin;
        plugin.setSettingsManager(env.settings.get());
        plugin.initialize();
        QCOMPARE(Probe::videoSource(plugin), QStringLiteral("3: Capture: Card"));
        QCOMPARE(Probe::captureFrameRate(plugin), 0); // text that is no number
        QCOMPARE(Probe::captureResolution(plugin), QStringLiteral("1234"));
    }

    void everyChangeWritesAllThreeKeys()
    {
        testing::PluginEnvironment env;
        KorvanePlugin plugin;
        plugin.setSettingsManager(env.settings.get());
        plugin.initialize();
        // Through the meta-object, as the host or the panel's connections would.
        QVERIFY(QMetaObject::invokeMethod(&plugin, "onCaptureResolutionChanged", Q_ARG(QString, "1280x720")));
        QCOMPARE(env.stored(QStringLiteral("captureResolution")).toString(), QStringLiteral("1280x720"));
        QCOMPARE(env.stored(QStringLiteral("captureFrameRate")).toInt(), 60);
        QVERIFY(env.stored(QStringLiteral("videoSource")).isValid());

        QFile::remove(env.iniPath);
        QVERIFY(QMetaObject::invokeMethod(&plugin, "onCaptureFrameRateChanged", Q_ARG(int, 240)));
        QCOMPARE(Probe::captureFrameRate(plugin), 240);
        QCOMPARE(env.stored(QStringLiteral("captureFrameRate")).toInt(), 240);
        QCOMPARE(env.stored(QStringLiteral("captureResolution")).toString(), QStringLiteral("1280x720"));
        QVERIFY(env.stored(QStringLiteral("videoSource")).isValid());
    }

    void withoutSettingsManagerOneWarningAndNothingWritten()
    {
        testing::PluginEnvironment env;
        testing::LogCapture log;
        {
            KorvanePlugin plugin;
            plugin.initialize();
            QMetaObject::invokeMethod(&plugin, "onCaptureFrameRateChanged", Q_ARG(int, 30));
            QCOMPARE(Probe::captureFrameRate(plugin), 30);
            plugin.shutdown();
        }
        QCOMPARE(log.lines(),
                 QStringList{QStringLiteral("warning Korvane: SettingsManager not available, using defaults")});
        QVERIFY(!QFile::exists(env.iniPath));
    }

    void shutdownTwiceThenDestroy()
    {
        testing::PluginEnvironment env;
        auto plugin = std::make_unique<KorvanePlugin>();
        plugin->setSettingsManager(env.settings.get());
        plugin->initialize();
        QVERIFY(Probe::hasTimer(*plugin) && Probe::videoCapture(*plugin));
        for (int round = 0; round < 2; ++round) {
            QFile::remove(env.iniPath);
            plugin->shutdown();
            QVERIFY(QFile::exists(env.iniPath)); // every shutdown writes the settings
            QVERIFY(!Probe::hasTimer(*plugin) && !Probe::videoCapture(*plugin));
        }
        QFile::remove(env.iniPath);
        plugin.reset();
        QVERIFY(QFile::exists(env.iniPath));
    }

    void initializeConnectsTheRing()
    {
        testing::PluginEnvironment env;
        KorvanePlugin plugin;
        plugin.initialize();
        VideoRingBufferReader reader;
        QVERIFY2(reader.attach(env.ringName), reader.lastError().c_str());
        QCOMPARE(reader.slotCount(), 8u);
        QCOMPARE(reader.slotBytes(), std::uint64_t(16 * 1024 * 1024));
        QVERIFY(!reader.captureActive());
    }

    void shutdownWhileCapturingStopsEverything()
    {
        testing::PluginEnvironment env;
        testing::FakeDevicePlugin plugin;
        plugin.setSettingsManager(env.settings.get());
        plugin.initialize();
        QMetaObject::invokeMethod(&plugin, "onCaptureToggleRequested", Q_ARG(bool, true));
        QTRY_VERIFY(Probe::running(plugin).load());
        QTRY_VERIFY(Probe::framesWritten(plugin).load() > 0);
        VideoRingBufferReader reader;
        QVERIFY(reader.attach(env.ringName));
        QVERIFY(reader.captureActive());

        plugin.shutdown();
        QVERIFY(!Probe::running(plugin).load());
        QVERIFY(!reader.captureActive());
        const int frames = Probe::framesWritten(plugin).load();
        QTest::qWait(50);
        QCOMPARE(Probe::framesWritten(plugin).load(), frames); // the frame thread has ended
        QCOMPARE(env.stored(QStringLiteral("videoSource")).toString(), QStringLiteral("-1: Video Test"));
    }
};

QTEST_MAIN(PluginLifecycleTest)
#include "test_plugin_lifecycle.moc"
