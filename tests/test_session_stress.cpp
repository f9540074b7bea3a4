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
        int running = 0;
        for (int step = 0; step < steps; ++step) {
            auto& s = *session;
            switch (random() % 10) {
            case 0:
                if (s.panel && s.ui.button()->isEnabled())
                    s.ui.click();
                break;
            case 1:
                QMetaObject::invokeMethod(&s.plugin, "onCaptureToggleRequested", Q_ARG(bool, random() % 2 == 0));
                break;
            case 2:
                QMetaObject::invokeMethod(&s.plugin, "onVideoSourceChanged", Q_ARG(QString, sources[random() % 3]));
                break;
            case 3:
                QMetaObject::invokeMethod(&s.plugin, "onCaptureResolutionChanged",
                                          Q_ARG(QString, random() % 4 ? QStringLiteral("64x48") : QStringLiteral("4x4")));
                break;
            case 4:
                if (s.panel && s.ui.refresh()->isEnabled())
                    QTest::mouseClick(s.ui.refresh(), Qt::LeftButton);
                break;
            case 5:
                // Once running is seen the start worker has written the statistics.
                if (Probe::running(s.plugin))
                    Probe::fpsLastTime(s.plugin) -= 1'000'000'000;
                Probe::updateFPS(s.plugin);
                break;
            case 6:
                if (!s.panel)
                    s.usePanel(s.plugin.createWidget());
                else if (random() % 8 == 0)
                    s.panel.reset(); // the host drops the panel
                break;
            case 7:
                if (random() % 10 == 0) {
                    session = fresh();
                    continue;
                }
                break;
            case 8:
                QCoreApplication::processEvents();
                break;
            case 9:
                if (s.panel && s.ui.frameRates()->isEnabled())
                    s.ui.choose(s.ui.frameRates(), std::array{30, 60, 120, 240}[random() % 4]);
                break;
            }
            if (step % 50 == 49) {
                Probe::settle(s.plugin);
                const bool capturing = Probe::running(s.plugin);
                running += capturing;
                if (s.panel) {
                    const QString where = QStringLiteral("step %1").arg(step);
                    QVERIFY2(s.ui.button()->isEnabled(), qPrintable(where));
                    QVERIFY2(s.ui.button()->isChecked() == capturing, qPrintable(where));
                    QVERIFY2(s.ui.choosersEnabled() == !capturing, qPrintable(where));
                    // What runs is what the panel shows.
                    QVERIFY2(!capturing || (Probe::testMode(s.plugin) == (s.ui.devices()->currentIndex() == 0)
                                            && Probe::sessionFrameRate(s.plugin) == s.ui.frameRates()->currentData().toInt()),
                             qPrintable(where));
                }
            }
        }
        qInfo("%d of the quiet checks found a session running", running);
        QVERIFY(running > 0);
    }
};

QTEST_MAIN(SessionStressTest)
#include "test_session_stress.moc"
