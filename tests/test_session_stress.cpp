// Thousands of random user and host actions against one plug-in (and its successors),
// with the fake device and the test source. Run under the thread sanitizer in CI: any
// data race, deadlock, leak or inconsistent panel fails it.
//   KORVANE_STRESS_SEED and KORVANE_STRESS_STEPS override the defaults.

#include "helpers/fake_video_capture.h"
#include "helpers/panel_driver.h"
#include "helpers/plugin_fixture.h"
#include "helpers/plugin_probe.h"

#include <QTest>
#include <QToolButton>

#include <random>

using namespace Vardel;
using namespace std::chrono_literals;
using Probe = KorvanePluginProbe;

namespace {

const QStringList kSources = {QStringLiteral("-1: Video Test"), QStringLiteral("0: Fake Cam"),
                              QStringLiteral("1: Missing Cam")};
const QStringList kResolutions = {QStringLiteral("64x48"), QStringLiteral("640x480"), QStringLiteral("1280x720"),
                                  QStringLiteral("4x4"), QStringLiteral("bad")};
const QList<int> kRates = {30, 60, 120, 240, 1000, 0};

struct Instance {
    std::unique_ptr<testing::FakeDevicePlugin> plugin;
    QPointer<QWidget> panel;

    explicit Instance(SettingsManager* settings, std::mt19937& random)
        : plugin(std::make_unique<testing::FakeDevicePlugin>())
    {
        plugin->extraDevices = {kSources[1], kSources[2]};
        plugin->device->openable = {0};
        plugin->device->width = 64;
        plugin->device->height = 48;
        plugin->device->framesPerSecond = 500;
        plugin->device->openDelay = std::chrono::milliseconds(random() % 15);
        plugin->setSettingsManager(settings);
        plugin->initialize();
        panel = plugin->createWidget();
    }
    ~Instance()
    {
        plugin->shutdown();
        plugin.reset();
        delete panel.data();
    }
};

} // namespace

class SessionStressTest : public QObject {
    Q_OBJECT

private slots:
    void randomOperations()
    {
        const unsigned seed = qEnvironmentVariableIsSet("KORVANE_STRESS_SEED")
            ? unsigned(qEnvironmentVariableIntValue("KORVANE_STRESS_SEED"))
            : 20261206u;
        const int steps = qEnvironmentVariableIsSet("KORVANE_STRESS_STEPS")
            ? qEnvironmentVariableIntValue("KORVANE_STRESS_STEPS")
            : 2000;
        qInfo("seed %u, %d steps", seed, steps);
        std::mt19937 random(seed);
        testing::PluginEnvironment env("stress");
        auto instance = std::make_unique<Instance>(env.settings.get(), random);
        int sessions = 0, fresh = 0;

        for (int step = 0; step < steps; ++step) {
            auto& plugin = *instance->plugin;
            const testing::PanelDriver ui(instance->panel);
            switch (random() % 12) {
            case 0:
            case 1:
                if (ui.button() && ui.button()->isEnabled())
                    ui.click();
                else
                    QMetaObject::invokeMethod(&plugin, "onCaptureToggleRequested", Q_ARG(bool, true));
                break;
            case 2:
                QMetaObject::invokeMethod(&plugin, "onCaptureToggleRequested", Q_ARG(bool, random() % 2 == 0));
                break;
            case 3:
                QMetaObject::invokeMethod(&plugin, "onVideoSourceChanged",
                                          Q_ARG(QString, kSources[random() % kSources.size()]));
                break;
            case 4:
                if (ui.frameRates() && ui.frameRates()->isEnabled())
                    ui.frameRates()->setCurrentIndex(int(random() % 4));
                else
                    QMetaObject::invokeMethod(&plugin, "onCaptureFrameRateChanged",
                                              Q_ARG(int, kRates[random() % kRates.size()]));
                break;
            case 5:
                QMetaObject::invokeMethod(&plugin, "onCaptureResolutionChanged",
                                          Q_ARG(QString, kResolutions[random() % kResolutions.size()]));
                break;
            case 6:
                if (ui.refresh() && ui.refresh()->isEnabled())
                    QTest::mouseClick(ui.refresh(), Qt::LeftButton);
                break;
            case 7:
                plugin.retranslate();
                break;
            case 8:
                // Once running is seen the start worker has written the statistics.
                if (random() % 2 && Probe::running(plugin).load())
                    Probe::fpsLastTime(plugin) -= 1'000'000'000;
                Probe::updateFPS(plugin);
                break;
            case 9:
                QTest::qWait(int(random() % 6));
                break;
            case 10:
                if (random() % 8 == 0) {
                    delete instance->panel.data(); // the host drops the panel...
                } else if (!instance->panel) {
                    instance->panel = plugin.createWidget(); // ...and asks for a new one
                }
                break;
            case 11:
                if (random() % 10 == 0) {
                    instance.reset();
                    instance = std::make_unique<Instance>(env.settings.get(), random);
                    ++fresh;
                }
                break;
            }
            QCoreApplication::processEvents();

            if (step % 50 == 49) {
                // Quiet moment: every answer delivered, the panel shows what really runs.
                Probe::settle(*instance->plugin);
                const bool running = Probe::running(*instance->plugin).load();
                sessions += running ? 1 : 0;
                if (instance->panel) {
                    const testing::PanelDriver now(instance->panel);
                    QVERIFY2(now.button()->isEnabled(), qPrintable(QStringLiteral("step %1").arg(step)));
                    QVERIFY2(now.button()->isChecked() == running, qPrintable(QStringLiteral("step %1").arg(step)));
                    QVERIFY2(now.choosersEnabled() == !running, qPrintable(QStringLiteral("step %1").arg(step)));
                }
            }
        }
        qInfo("%d quiet checks found a session running, %d fresh instances", sessions, fresh);
        instance.reset();
        QVERIFY(sessions > 0);
    }
};

QTEST_MAIN(SessionStressTest)
#include "test_session_stress.moc"
