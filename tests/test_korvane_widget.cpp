// The control panel on its own: what it shows, what it emits and what it ignores, in
// English and German.

#include "helpers/fake_video_capture.h"
#include "helpers/panel_driver.h"
#include "ui/korvane_widget.h"

#include <QtTest>
#include <QtWidgets>

using namespace Vardel;
using namespace Vardel::testing;

namespace {

// A shown panel listing the given devices after the test source, with the argument of
// every signal it emits, in order.
struct Panel {
    FakeDevicePlugin plugin;
    QStringList emitted;
    KorvaneWidget widget{&plugin};
    PanelDriver ui{&widget};

    explicit Panel(const QStringList& devices = {})
    {
        plugin.extraDevices = devices;
        ui.refresh()->click();
        const auto log = [this](const QVariant& argument) { emitted << argument.toString(); };
        QObject::connect(&widget, &KorvaneWidget::videoSourceChanged, log);
        QObject::connect(&widget, &KorvaneWidget::captureFrameRateChanged, log);
        QObject::connect(&widget, &KorvaneWidget::captureResolutionChanged, log);
        QObject::connect(&widget, &KorvaneWidget::captureToggleRequested, log);
        widget.show();
    }
};

// The capture state as the user sees it: button text, checked, enabled; the write rate; how
// many of the four choosers (device, refresh, frame rate, resolution) are enabled.
using PanelState = std::tuple<QString, bool, bool, QString, int>;
PanelState state(const PanelControls& ui)
{
    const int choosers = ui.devices()->isEnabled() + ui.refresh()->isEnabled() + ui.frameRates()->isEnabled() +
                         ui.resolutions()->isEnabled();
    return {ui.button()->text(), ui.button()->isChecked(), ui.button()->isEnabled(), ui.rateLabel()->text(), choosers};
}

} // namespace

class KorvaneWidgetTest : public QObject {
    Q_OBJECT

private slots:
    // The device list shows the names. What the plug-in applies from its settings: only what
    // is offered, exactly; only a device change emits, with the whole source; a source not
    // found is not taken up by a later list, whose refresh goes back to the first entry silently.
    void settersSelectOnlyWhatIsOffered()
    {
        const QString defaults = QStringLiteral("-1: Video Test|60|1920x1080");
        const std::tuple<QString, int, QString, QString> rows[] = {
            {"1: Cam B", 120, "2560x1440", "1: Cam B|120|2560x1440"},
            {"1: cam b", 25, "2560X1440", defaults},
            {"Cam B", 0, " 640x480", defaults},
        };
        for (const auto& [source, fps, resolution, selected] : rows) {
            Panel p({"0: Cam A", "1: Cam B", "Loose Entry", "3:NoSpace  ", "7: Cam: HD 60"});
            QStringList texts; // the names shown
            for (int i = 0; i < p.ui.devices()->count(); ++i)
                texts << p.ui.devices()->itemText(i);
            QCOMPARE(texts, (QStringList{"Video Test", "Cam A", "Cam B", "Loose Entry", "NoSpace", "Cam"}));
            p.widget.setVideoSource(source);
            p.widget.setCaptureFrameRate(fps);
            p.widget.setCaptureResolution(resolution);
            QCOMPARE(p.widget.currentVideoSource() + '|' + p.ui.frameRates()->currentData().toString() + '|' +
                         p.ui.resolutions()->currentData().toString(),
                     selected);
            p.plugin.extraDevices << source;
            p.ui.refresh()->click();
            QVERIFY(p.ui.values(p.ui.devices()).contains(source));
            QCOMPARE(p.widget.currentVideoSource(), "-1: Video Test");
            QCOMPARE(p.emitted, selected == defaults ? QStringList{} : QStringList{source});
        }
    }

    void stateFollowsWhatThePluginReports()
    {
        Panel p;
        KorvaneWidget& w = p.widget;
        const PanelState idle{"Start Capture", false, true, "Write FPS: --", 4};
        const PanelState capturing{"Stop Capture", true, true, "Write FPS: 60", 0};
        const std::tuple<const char*, std::function<void()>, PanelState, QStringList> steps[] = {
            {"unanswered clicks still ask to start", [&] { p.ui.click(); p.ui.click(); }, idle, {"true", "true"}},
            {"starting", [&] { p.ui.click(); w.setStartingState(); p.ui.click(); },
             {"Starting...", true, false, "Write FPS: --", 4}, {"true"}},
            {"started, rounded half up", [&] { w.setCaptureState(true, 59.5); }, capturing, {}},
            {"rounded down", [&] { w.setCaptureState(true, 60.49); }, capturing, {}},
            {"stopped", [&] { p.ui.click(); w.setCaptureState(false, 0.0); }, idle, {"false"}},
            {"start failed", [&] { p.ui.click(); w.setStartingState(); w.resetStartStopButton(); }, idle, {"true"}},
        };
        for (const auto& [step, act, shown, toggles] : steps) {
            p.emitted.clear();
            act();
            QCOMPARE(std::pair(step, state(p.ui)), std::pair(step, shown));
            QCOMPARE(std::pair(step, p.emitted), std::pair(step, toggles));
        }
    }

    // The host may delete the panel while the warning's event loop runs. The panel lives in
    // storage the test wipes once it is deleted, so that any later use of it fails at once
    // instead of reading freed memory that may still look alive.
    void panelDeletedDuringTheWarning()
    {
        struct alignas(KorvaneWidget) { std::byte bytes[sizeof(KorvaneWidget)]; } storage;
        auto* panel = new (&storage) KorvaneWidget(nullptr);
        const QPointer<KorvaneWidget> alive(panel);
        panel->setInitialized(true);
        const ModalWatcher watcher([&](QMessageBox*) { panel->~KorvaneWidget(); storage = {}; });
        QTest::keyClick(PanelControls(panel).resolutions(), Qt::Key_Up);
        if (alive) // no warning came
            panel->~KorvaneWidget();
        QCOMPARE(watcher.seen, 1);
    }

    // The 1440p warning comes only once the stored settings have been applied, and the choice
    // is passed on once it is closed. Then German through a translator and the
    // language-change event, while capturing and while a start is pending; a text the
    // catalogue lacks stays English and fails a comparison.
    void wideResolutionWarningAndRetranslation()
    {
        QTranslator german;
        QVERIFY(german.load(QStringLiteral("korvane_de"), QStringLiteral(KORVANE_TRANSLATIONS_DIR)));
        const auto de = [&](const QString& s) { return german.translate("Vardel::KorvaneWidget", qPrintable(s)); };
        Panel p;
        QStringList warning, whileShown;
        const ModalWatcher watcher([&](QMessageBox* box) {
            warning = QStringList{box->windowTitle(), box->text()};
            whileShown = p.emitted;
        });
        QTest::keyClick(p.ui.resolutions(), Qt::Key_Up); // 1440p while the stored settings are applied
        p.widget.setInitialized(true);
        QTest::keyClick(p.ui.resolutions(), Qt::Key_End);
        QTest::keyClick(p.ui.resolutions(), Qt::Key_Home);
        QCOMPARE(watcher.seen, 1);
        QCOMPARE(whileShown, (QStringList{"2560x1440", "640x480"})); // the signal waits for the dialog
        QCOMPARE(p.emitted, (QStringList{"2560x1440", "640x480", "2560x1440"}));
        const QStringList english = warning;
        p.widget.setCaptureState(true, 59.6);
        p.emitted.clear();

        QCoreApplication::installTranslator(&german);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
        QStringList texts; // titles and texts of every child, then the chosen frame rate
        for (const QWidget* child : p.widget.findChildren<QWidget*>())
            texts << child->property("title").toString() + child->property("text").toString();
        texts.removeAll(QString());
        QCOMPARE(texts << p.ui.frameRates()->currentText(),
                 (QStringList{de("Capture Source"), de("Device:"), de("Settings"), de("Frame Rate:"), de("Resolution:"),
                              de("Control"), de("Stop Capture"), de("Write FPS: --"), de("%1 FPS").arg(60)}));
        QCOMPARE(p.ui.resolutions()->currentData(), "2560x1440");
        p.widget.setCaptureState(true, 61.0);
        QCOMPARE(p.ui.rateLabel()->text(), de("Write FPS: %1").arg(61));

        p.widget.setCaptureState(false, 0.0);
        p.widget.setStartingState();
        QCOMPARE(p.ui.button()->text(), de("Starting..."));
        QEvent change(QEvent::LanguageChange);
        QCoreApplication::sendEvent(&p.widget, &change);
        QCOMPARE(state(p.ui), PanelState(de("Start Capture"), false, false, de("Write FPS: --"), 4));
        QVERIFY(p.emitted.isEmpty()); // retranslating changes no choice

        QTest::keyClick(p.ui.resolutions(), Qt::Key_Down);
        QTest::keyClick(p.ui.resolutions(), Qt::Key_Up);
        QCOMPARE(warning, (QStringList{de(english.value(0)), de(english.value(1))}));
    }
};

QTEST_MAIN(KorvaneWidgetTest)
#include "test_korvane_widget.moc"
