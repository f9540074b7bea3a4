#include "helpers/modal_watcher.h"
#include "helpers/panel_probe.h"
#include "host/logging_service.h"

#include <QMessageBox>
#include <QMetaMethod>

#include <cmath>
#include <memory>

using namespace Vardel;
using namespace Vardel::testing;

namespace {

const QString testSource = QStringLiteral("-1: Video Test");

// What the user sees of the capture state.
struct CaptureDisplay {
    QString button;
    bool checked;
    bool buttonEnabled;
    QString rate;
    int choosersEnabled;
    bool operator==(const CaptureDisplay&) const = default;
};

char* toString(const CaptureDisplay& d)
{
    return QTest::toString(QStringLiteral("[%1, checked %2, enabled %3 | %4 | %5 choosers enabled]")
                               .arg(d.button)
                               .arg(d.checked)
                               .arg(d.buttonEnabled)
                               .arg(d.rate)
                               .arg(d.choosersEnabled));
}

CaptureDisplay display(const KorvaneWidgetProbe& p)
{
    const QPushButton* button = p.startStopButton();
    return {button->text(), button->isChecked(), button->isEnabled(), p.writeFpsLabel()->text(), p.choosersEnabled()};
}

const CaptureDisplay idle{QStringLiteral("Start Capture"), false, true, QStringLiteral("Write FPS: --"), 4};

bool showPanel(QWidget& panel)
{
    panel.show();
    return QTest::qWaitForWindowExposed(&panel);
}

} // namespace

class KorvaneWidgetTest : public QObject {
    Q_OBJECT

private slots:
    void freshPanelShowsTheDefaults()
    {
        ListedDevicesPlugin plugin({QStringLiteral("0: Cam A")});
        KorvaneWidget panel(&plugin);
        const KorvaneWidgetProbe p{panel};

        QCOMPARE(display(p), idle);
        QVERIFY(p.startStopButton()->isCheckable());
        QCOMPARE(p.translatedTexts().mid(0, 6),
                 QStringList({"Capture Source", "Settings", "Control", "Device:", "Frame Rate:", "Resolution:"}));
        QCOMPARE(itemTexts(p.frameRateCombo()), QStringList({"30 FPS", "60 FPS", "120 FPS", "240 FPS"}));
        QCOMPARE(itemData(p.frameRateCombo()), QVariantList({30, 60, 120, 240}));
        QCOMPARE(p.frameRateCombo()->currentIndex(), 1);
        QCOMPARE(itemTexts(p.resolutionCombo()), QStringList({"1440p (2560x1440)", "1080p (1920x1080)",
                                                              "720p (1280x720)", "480p (640x480)"}));
        QCOMPARE(itemData(p.resolutionCombo()), QVariantList({"2560x1440", "1920x1080", "1280x720", "640x480"}));
        QCOMPARE(p.resolutionCombo()->currentIndex(), 1);
        QCOMPARE(itemData(p.deviceCombo()), QVariantList({testSource, "0: Cam A"}));
        QCOMPARE(panel.currentVideoSource(), testSource);
    }

    // The host and the plug-in address the panel's methods by index.
    void metaObjectListsSignalsThenSlots()
    {
        const QMetaObject& meta = KorvaneWidget::staticMetaObject;
        QCOMPARE(meta.className(), "Vardel::KorvaneWidget");
        QStringList methods;
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
            const QMetaMethod m = meta.method(i);
            const bool isSignal = m.methodType() == QMetaMethod::Signal && m.access() == QMetaMethod::Public;
            const bool isPrivateSlot = m.methodType() == QMetaMethod::Slot && m.access() == QMetaMethod::Private;
            methods << (isSignal ? "signal " : isPrivateSlot ? "private slot " : "other ") + m.methodSignature();
        }
        QCOMPARE(methods, QStringList({"signal videoSourceChanged(QString)", "signal captureFrameRateChanged(int)",
                                       "signal captureResolutionChanged(QString)", "signal captureToggleRequested(bool)",
                                       "private slot onSourceSelectionChanged()", "private slot onStartStopClicked()",
                                       "private slot refreshAvailableSources()"}));
        QCOMPARE(meta.propertyCount(), meta.propertyOffset());
    }

    void deviceEntriesShowTheNameBetweenTheFirstTwoColons()
    {
        ListedDevicesPlugin plugin({QStringLiteral("0: USB Camera"), QStringLiteral("2: "), QStringLiteral("Loose Entry"),
                                    QStringLiteral("3:NoSpace  "), QStringLiteral("1: Cam: HD 60")});
        KorvaneWidget panel(&plugin);
        QVERIFY(showPanel(panel));
        const KorvaneWidgetProbe p{panel};
        QComboBox* devices = p.deviceCombo();
        QCOMPARE(itemTexts(devices), QStringList({"Video Test", "USB Camera", "", "Loose Entry", "NoSpace", "Cam"}));
        QCOMPARE(itemData(devices), QVariantList({testSource, "0: USB Camera", "2: ", "Loose Entry", "3:NoSpace  ",
                                                  "1: Cam: HD 60"}));

        // The user picks the last device: the signal carries the full source, not the shown name.
        PanelSpies spies(&panel);
        QTest::keyClick(devices, Qt::Key_End);
        QCOMPARE(spies.source.count(), 1);
        QCOMPARE(spies.source.at(0).at(0).toString(), QStringLiteral("1: Cam: HD 60"));
        QCOMPARE(panel.currentVideoSource(), QStringLiteral("1: Cam: HD 60"));
        QTest::keyClick(devices, Qt::Key_End); // already there: no change, no signal
        QTest::keyClick(devices, Qt::Key_Home);
        QCOMPARE(spies.source.count(), 2);
        QCOMPARE(spies.source.at(1).at(0).toString(), testSource);
        QCOMPARE(spies.total(), 2);
    }

    void refreshSelectsTheFirstEntryWithoutASignal()
    {
        ListedDevicesPlugin plugin({QStringLiteral("0: Cam A"), QStringLiteral("1: Cam B")});
        KorvaneWidget panel(&plugin);
        QVERIFY(showPanel(panel));
        const KorvaneWidgetProbe p{panel};
        QTest::keyClick(p.deviceCombo(), Qt::Key_End);
        QCOMPARE(panel.currentVideoSource(), QStringLiteral("1: Cam B"));

        PanelSpies spies(&panel);
        plugin.devices << QStringLiteral("2: Cam C");
        p.clickRefresh();
        QCOMPARE(itemData(p.deviceCombo()), QVariantList({testSource, "0: Cam A", "1: Cam B", "2: Cam C"}));
        QCOMPARE(panel.currentVideoSource(), testSource);

        plugin.devices.clear();
        p.clickRefresh();
        QCOMPARE(itemTexts(p.deviceCombo()), QStringList({"Video Test"}));
        QCOMPARE(p.deviceCombo()->currentIndex(), 0);
        QVERIFY(p.deviceCombo()->isEnabled());
        QCOMPARE(spies.total(), 0);
    }

    // Matched against the whole source string, case and all; a source given while the
    // device chooser is empty waits for one refresh, no longer; any miss is forgotten.
    void setVideoSourceSelectsOnlyAnExactEntry()
    {
        ListedDevicesPlugin plugin({QStringLiteral("0: Cam A"), QStringLiteral("1: Cam B")});
        KorvaneWidget panel(&plugin);
        QVERIFY(showPanel(panel));
        const KorvaneWidgetProbe p{panel};
        PanelSpies spies(&panel);

        panel.setVideoSource(QStringLiteral("1: Cam B"));
        QCOMPARE(spies.source.count(), 1);
        QCOMPARE(spies.source.at(0).at(0).toString(), QStringLiteral("1: Cam B"));
        panel.setVideoSource(QStringLiteral("1: Cam B"));
        for (const char* miss : {"Cam A", "0: cam a", "9: Elsewhere", ""}) {
            panel.setVideoSource(QString::fromLatin1(miss));
            QCOMPARE(panel.currentVideoSource(), QStringLiteral("1: Cam B"));
            QCOMPARE(p.pendingVideoSource(), QString());
        }
        QCOMPARE(spies.total(), 1);

        p.deviceCombo()->clear();
        panel.setVideoSource(QStringLiteral("1: Cam B"));
        QCOMPARE(p.pendingVideoSource(), QStringLiteral("1: Cam B"));
        p.clickRefresh();
        QCOMPARE(panel.currentVideoSource(), QStringLiteral("1: Cam B"));
        QCOMPARE(p.pendingVideoSource(), QString());
        p.clickRefresh();
        QCOMPARE(panel.currentVideoSource(), testSource);

        // Not found by its refresh: forgotten, even once a later list holds it.
        p.deviceCombo()->clear();
        panel.setVideoSource(QStringLiteral("7: Later"));
        p.clickRefresh();
        QCOMPARE(p.pendingVideoSource(), QString());
        plugin.devices << QStringLiteral("7: Later");
        p.clickRefresh();
        QCOMPARE(panel.currentVideoSource(), testSource);
        QCOMPARE(spies.total(), 1);
    }

    // The plug-in's stored values select an entry without a signal or the 1440p dialog;
    // values not on offer change nothing, emit nothing and log nothing.
    void settersSelectSilentlyAndIgnoreWhatIsNotOffered()
    {
        int logLines = 0;
        const LogSubscription log([&](const LoggingService::Entry&) { ++logLines; });
        ListedDevicesPlugin plugin({QStringLiteral("0: Cam A")});
        KorvaneWidget panel(&plugin);
        QVERIFY(showPanel(panel));
        panel.setInitialized(true);
        const KorvaneWidgetProbe p{panel};
        PanelSpies spies(&panel);
        const ModalWatcher watcher;

        panel.setCaptureFrameRate(25);
        panel.setCaptureResolution(QStringLiteral("2560X1440"));
        panel.setCaptureResolution(QStringLiteral("2560x1440 "));
        QCOMPARE(p.frameRateCombo()->currentIndex(), 1);
        QCOMPARE(p.resolutionCombo()->currentIndex(), 1);
        panel.setCaptureFrameRate(120);
        QCOMPARE(p.frameRateCombo()->currentText(), QStringLiteral("120 FPS"));
        panel.setCaptureResolution(QStringLiteral("2560x1440"));
        QCOMPARE(p.resolutionCombo()->currentText(), QStringLiteral("1440p (2560x1440)"));

        // A cleared chooser reports index -1 to the handlers.
        for (QComboBox* combo : {p.deviceCombo(), p.frameRateCombo(), p.resolutionCombo()})
            combo->clear();
        QCOMPARE(panel.currentVideoSource(), QString());
        panel.setCaptureFrameRate(60);
        panel.setCaptureResolution(QStringLiteral("1920x1080"));
        QCOMPARE(spies.total(), 0);
        QCOMPARE(watcher.seen(), 0);
        QCOMPARE(logLines, 0);
    }

    void withoutPluginOrAnswerThePanelKeepsWorking()
    {
        KorvaneWidget orphan(nullptr);
        QVERIFY(showPanel(orphan));
        const KorvaneWidgetProbe o{orphan};
        PanelSpies spies(&orphan);
        o.clickRefresh();
        QCOMPARE(o.deviceCombo()->count(), 0);
        orphan.setVideoSource(testSource);
        QCOMPARE(o.pendingVideoSource(), testSource);
        QCOMPARE(orphan.currentVideoSource(), QString());
        QCOMPARE(spies.total(), 0);
        // A click nobody answered: the next one asks for a start again, following the
        // reported state, not the check mark the first click left behind.
        o.clickStartStop();
        o.clickStartStop();
        QCOMPARE(spies.toggle.count(), 2);
        QCOMPARE(spies.toggle.at(1).at(0).toBool(), true);

        // The host may destroy the plug-in before the panel.
        auto plugin = std::make_unique<ListedDevicesPlugin>(QStringList{QStringLiteral("0: Cam A")});
        KorvaneWidget panel(plugin.get());
        QVERIFY(showPanel(panel));
        plugin.reset();
        const KorvaneWidgetProbe p{panel};
        p.clickRefresh();
        QCOMPARE(itemData(p.deviceCombo()), QVariantList({testSource, "0: Cam A"}));
    }

    void userChoicesEmitOnceEach()
    {
        ListedDevicesPlugin plugin({QStringLiteral("0: Cam A")});
        KorvaneWidget panel(&plugin);
        QVERIFY(showPanel(panel));
        const KorvaneWidgetProbe p{panel};
        PanelSpies spies(&panel);
        const ModalWatcher watcher;

        QTest::keyClick(p.frameRateCombo(), Qt::Key_Down);
        QCOMPARE(spies.frameRate.count(), 1);
        QCOMPARE(spies.frameRate.at(0).at(0).toInt(), 120);
        QTest::keyClick(p.resolutionCombo(), Qt::Key_Down);
        QCOMPARE(spies.resolution.count(), 1);
        QCOMPARE(spies.resolution.at(0).at(0).toString(), QStringLiteral("1280x720"));
        QTest::keyClick(p.deviceCombo(), Qt::Key_Down);
        QCOMPARE(spies.source.count(), 1);
        QCOMPARE(spies.source.at(0).at(0).toString(), QStringLiteral("0: Cam A"));
        QCOMPARE(spies.total(), 3);
        QCOMPARE(watcher.seen(), 0);
    }

    // Idle -> Starting -> Capturing -> Idle, a failed start, and a restart on a new source.
    void displayFollowsWhatThePluginReports()
    {
        ListedDevicesPlugin plugin;
        KorvaneWidget panel(&plugin);
        QVERIFY(showPanel(panel));
        const KorvaneWidgetProbe p{panel};
        QSignalSpy toggle(&panel, &KorvaneWidget::captureToggleRequested);

        p.clickStartStop();
        QCOMPARE(toggle.count(), 1);
        QCOMPARE(toggle.at(0).at(0).toBool(), true);
        panel.setStartingState();
        const CaptureDisplay starting{QStringLiteral("Starting..."), true, false, QStringLiteral("Write FPS: --"), 4};
        QCOMPARE(display(p), starting);
        p.clickStartStop(); // disabled: ignored
        QCOMPARE(toggle.count(), 1);

        panel.setCaptureState(true, 59.5);
        QCOMPARE(display(p), (CaptureDisplay{QStringLiteral("Stop Capture"), true, true, QStringLiteral("Write FPS: 60"), 0}));
        panel.setCaptureState(true, 61.2);
        QCOMPARE(p.writeFpsLabel()->text(), QStringLiteral("Write FPS: 61"));

        p.clickStartStop();
        QCOMPARE(toggle.count(), 2);
        QCOMPARE(toggle.at(1).at(0).toBool(), false);
        panel.setCaptureState(false, 0.0);
        QCOMPARE(display(p), idle);

        // The start fails: the plug-in hands the button back.
        p.clickStartStop();
        panel.setStartingState();
        panel.resetStartStopButton();
        QCOMPARE(display(p), idle);

        // Another source while capturing: stopped, then started again.
        panel.setCaptureState(true, 30.0);
        panel.setCaptureState(false, 0.0);
        panel.setStartingState();
        QCOMPARE(display(p), (CaptureDisplay{QStringLiteral("Starting..."), false, false, QStringLiteral("Write FPS: --"), 4}));
        QCOMPARE(toggle.count(), 3);
    }

    void writeRateRoundsHalvesAwayFromZero_data()
    {
        QTest::addColumn<bool>("capturing");
        QTest::addColumn<double>("rate");
        QTest::addColumn<QString>("shown");
        QTest::newRow("half up") << true << 59.5 << "Write FPS: 60";
        QTest::newRow("below half") << true << 59.49 << "Write FPS: 59";
        QTest::newRow("under one") << true << 0.4 << "Write FPS: 0";
        QTest::newRow("even half") << true << 2.5 << "Write FPS: 3";
        QTest::newRow("just under half") << true << std::nextafter(0.5, 0.0) << "Write FPS: 0";
        QTest::newRow("negative half") << true << -2.5 << "Write FPS: -3";
        QTest::newRow("not capturing") << false << 42.0 << "Write FPS: --";
    }

    void writeRateRoundsHalvesAwayFromZero()
    {
        QFETCH(bool, capturing);
        QFETCH(double, rate);
        QFETCH(QString, shown);
        KorvaneWidget panel(nullptr);
        panel.setCaptureState(true, 7.0);
        panel.setCaptureState(capturing, rate);
        QCOMPARE(KorvaneWidgetProbe{panel}.writeFpsLabel()->text(), shown);
    }

    void wideResolutionWarnsOnlyOnceInitialized()
    {
        ListedDevicesPlugin plugin;
        KorvaneWidget panel(&plugin);
        QVERIFY(showPanel(panel));
        const KorvaneWidgetProbe p{panel};
        QSignalSpy resolution(&panel, &KorvaneWidget::captureResolutionChanged);
        {
            const ModalWatcher watcher;
            QTest::keyClick(p.resolutionCombo(), Qt::Key_Up);
            QCOMPARE(watcher.seen(), 0);
            QCOMPARE(resolution.count(), 1);
            QCOMPARE(resolution.at(0).at(0).toString(), QStringLiteral("2560x1440"));
            QTest::keyClick(p.resolutionCombo(), Qt::Key_Down);
        }

        panel.setInitialized(true);
        QString title, text;
        QMessageBox::StandardButtons buttons;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QWidget* parent = nullptr;
        qsizetype signalsWhileShown = -1;
        const ModalWatcher watcher([&](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                title = box->windowTitle();
                text = box->text();
                buttons = box->standardButtons();
                icon = box->icon();
                parent = box->parentWidget();
                signalsWhileShown = resolution.count();
            }
        });
        QTest::keyClick(p.resolutionCombo(), Qt::Key_Up);
        QCOMPARE(watcher.seen(), 1);
        QCOMPARE(title, wideWarningTitle);
        QCOMPARE(text, wideWarningText);
        QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(icon, QMessageBox::Warning);
        QCOMPARE(parent, &panel);
        QCOMPARE(signalsWhileShown, 2); // the signal waits for the dialog to close
        QCOMPARE(resolution.count(), 3);
        QCOMPARE(resolution.at(2).at(0).toString(), QStringLiteral("2560x1440"));
        QCOMPARE(p.resolutionCombo()->currentIndex(), 0);

        for (Qt::Key key : {Qt::Key_End, Qt::Key_Up, Qt::Key_Up})
            QTest::keyClick(p.resolutionCombo(), key);
        QCOMPARE(resolution.count(), 6);
        QCOMPARE(watcher.seen(), 1);
    }
};

QTEST_MAIN(KorvaneWidgetTest)
#include "test_korvane_widget.moc"
