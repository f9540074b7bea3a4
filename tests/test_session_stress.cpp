// Thousands of random user and host actions against one plug-in (and its successors), on
// the fake device and the test source; run under the thread sanitizer in CI, where any
// data race or deadlock fails it. After every fiftieth action, once every answer has
// arrived, the panel must show what really runs: the state, the source and the rate. The
// actions follow from the seed alone (KORVANE_STRESS_SEED, KORVANE_STRESS_STEPS); the
// threads' timing does not.

#include "helpers/fake_video_capture.h"
#include "helpers/plugin_probe.h"

#include <QTest>
#include <QToolButton>

#include <functional>
#include <random>

using namespace Vardel;
using Probe = KorvanePluginProbe;

class SessionStressTest : public QObject {
    Q_OBJECT

private slots:
    void randomActions()
    {
        const auto seed = unsigned(qEnvironmentVariableIntValue("KORVANE_STRESS_SEED")) ?: 20261206u;
        const int steps = qEnvironmentVariableIntValue("KORVANE_STRESS_STEPS") ?: 2000;
        qInfo("seed %u, %d steps", seed, steps);
        std::mt19937 random(seed);
        const QStringList sources{QStringLiteral("-1: Video Test"), testing::kFakeCam, QStringLiteral("1: Missing Cam")};
        const auto fresh = [&] {
            auto made = std::make_unique<testing::FakeDeviceSession>("stress", 64, 48, 500);
            made->plugin.extraDevices << sources[2];
            made->initializeWithPanel();
            return made;
        };
        auto session = fresh();
        using S = testing::FakeDeviceSession;
        // One user or host action each, chosen at random.
        const std::function<void(S&)> actions[] = {
            [](S& s) { if (s.panel && s.ui.button()->isEnabled()) s.ui.click(); },
            [&](S& s) { QMetaObject::invokeMethod(&s.plugin, "onCaptureToggleRequested", Q_ARG(bool, random() % 2 == 0)); },
            [&](S& s) { QMetaObject::invokeMethod(&s.plugin, "onVideoSourceChanged", Q_ARG(QString, sources[random() % 3])); },
            [&](S& s) {
                QMetaObject::invokeMethod(&s.plugin, "onCaptureResolutionChanged",
                                          Q_ARG(QString, random() % 4 ? QStringLiteral("64x48") : QStringLiteral("4x4")));
            },
            [](S& s) { if (s.panel && s.ui.refresh()->isEnabled()) QTest::mouseClick(s.ui.refresh(), Qt::LeftButton); },
            [](S& s) {
                if (Probe::running(s.plugin)) // once running is seen the start has written the statistics
                    Probe::fpsLastTime(s.plugin) -= 1'000'000'000;
                Probe::updateFPS(s.plugin);
            },
            [&](S& s) {
                if (!s.panel)
                    s.usePanel(s.plugin.createWidget());
                else if (random() % 8 == 0)
                    s.panel.reset(); // the host drops the panel
            },
            [&](S&) { if (random() % 10 == 0) session = fresh(); }, // the host makes the plug-in anew
            [](S&) { QCoreApplication::processEvents(); },
            [&](S& s) {
                if (s.panel && s.ui.frameRates()->isEnabled())
                    s.ui.choose(s.ui.frameRates(), std::array{30, 60, 120, 240}[random() % 4]);
            },
        };
        int running = 0;
        for (int step = 0; step < steps; ++step) {
            actions[random() % std::size(actions)](*session);
            if (step % 50 != 49)
                continue;
            auto& s = *session;
            Probe::settle(s.plugin);
            const bool capturing = Probe::running(s.plugin);
            running += capturing;
            // The panel shows the state, and what runs is what it shows.
            QVERIFY2(!s.panel
                         || (s.ui.button()->isEnabled() && s.ui.button()->isChecked() == capturing
                             && s.ui.choosersEnabled() == !capturing
                             && (!capturing
                                 || (Probe::testMode(s.plugin) == (s.ui.devices()->currentIndex() == 0)
                                     && Probe::sessionFrameRate(s.plugin) == s.ui.frameRates()->currentData().toInt()))),
                     qPrintable(QStringLiteral("step %1").arg(step)));
        }
        qInfo("%d of the quiet checks found a session running", running);
        QVERIFY(running > 0);
    }
};

QTEST_MAIN(SessionStressTest)
#include "test_session_stress.moc"
