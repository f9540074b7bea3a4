#include "helpers/modal_watcher.h"
#include "helpers/panel_probe.h"

#include <QDir>
#include <QImage>
#include <QMessageBox>
#include <QTranslator>

#include <memory>

using namespace Vardel;
using namespace Vardel::testing;

namespace {

void sendLanguageChange(QWidget& panel)
{
    QEvent event(QEvent::LanguageChange);
    QCoreApplication::sendEvent(&panel, &event);
}

} // namespace

// The panel in German and back, in each capture state; renders the screenshots.
class KorvaneWidgetTextsTest : public QObject {
    Q_OBJECT

    QTranslator german;

    QString de(const QString& source) const
    {
        return german.translate("Vardel::KorvaneWidget", source.toUtf8().constData());
    }

    // The translated texts of an idle panel, in KorvaneWidgetProbe::translatedTexts order.
    QStringList germanIdleTexts() const
    {
        QStringList texts{de("Capture Source"), de("Settings"),    de("Control"),
                          de("Device:"),        de("Frame Rate:"), de("Resolution:")};
        for (int fps : {30, 60, 120, 240})
            texts << de("%1 FPS").arg(fps);
        return texts << de("Start Capture") << de("Write FPS: --");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(german.load(QStringLiteral("korvane_de"), QStringLiteral(KORVANE_TRANSLATIONS_DIR)));
    }

    void cleanup() { QCoreApplication::removeTranslator(&german); }

    void catalogueTranslatesEveryPanelText()
    {
        const QStringList texts{"Capture Source", "Settings",      "Control",       "Device:",
                                "Frame Rate:",    "Resolution:",   "%1 FPS",        "Start Capture",
                                "Stop Capture",   "Starting...",   "Write FPS: --", "Write FPS: %1",
                                wideWarningTitle, wideWarningText};
        for (const QString& text : texts) {
            const QString translated = de(text);
            QVERIFY2(!translated.isEmpty() && translated != text, qPrintable(text));
            QCOMPARE(translated.contains(QLatin1String("%1")), text.contains(QLatin1String("%1")));
        }
    }

    // Into German the way a host does it (install the catalogue, call the plug-in's
    // retranslate()), back through the widget's own language-change event.
    void idlePanelSwitchesLanguageWithoutSignals()
    {
        ListedDevicesPlugin plugin({QStringLiteral("0: Cam A")});
        const std::unique_ptr<QWidget> widget(plugin.createWidget());
        auto* panel = qobject_cast<KorvaneWidget*>(widget.get());
        QVERIFY(panel);
        const KorvaneWidgetProbe p{*panel};
        panel->setCaptureFrameRate(120);
        panel->setCaptureResolution(QStringLiteral("1280x720"));
        const QStringList english = p.translatedTexts();
        const QStringList fixedTexts = itemTexts(p.resolutionCombo()) + itemTexts(p.deviceCombo());
        PanelSpies spies(panel);

        QCoreApplication::installTranslator(&german);
        plugin.retranslate();
        QCOMPARE(p.translatedTexts(), germanIdleTexts());
        QCOMPARE(itemTexts(p.resolutionCombo()) + itemTexts(p.deviceCombo()), fixedTexts);
        QCOMPARE(itemData(p.frameRateCombo()), QVariantList({30, 60, 120, 240}));
        QCOMPARE(p.frameRateCombo()->currentIndex(), 2);
        QCOMPARE(p.resolutionCombo()->currentIndex(), 2);
        QCOMPARE(p.choosersEnabled(), 4);

        QCoreApplication::removeTranslator(&german);
        sendLanguageChange(*panel);
        QCOMPARE(p.translatedTexts(), english);
        QCOMPARE(spies.total(), 0);
    }

    void pendingStartReadsStartCaptureAndStaysDisabled()
    {
        KorvaneWidget panel(nullptr);
        const KorvaneWidgetProbe p{panel};
        p.startStopButton()->click(); // checks the button, as the user's click does
        panel.setStartingState();

        QCoreApplication::installTranslator(&german);
        sendLanguageChange(panel);
        QCOMPARE(p.startStopButton()->text(), de("Start Capture"));
        QVERIFY(!p.startStopButton()->isChecked());
        QVERIFY(!p.startStopButton()->isEnabled());
        QCOMPARE(p.choosersEnabled(), 4);
    }

    void capturingPanelShowsNoRateUntilTheNextReport()
    {
        KorvaneWidget panel(nullptr);
        const KorvaneWidgetProbe p{panel};
        panel.setCaptureState(true, 59.6);

        QCoreApplication::installTranslator(&german);
        sendLanguageChange(panel);
        QCOMPARE(p.writeFpsLabel()->text(), de("Write FPS: --"));
        QCOMPARE(p.startStopButton()->text(), de("Stop Capture"));
        QVERIFY(p.startStopButton()->isChecked());
        QVERIFY(p.startStopButton()->isEnabled());
        QCOMPARE(p.choosersEnabled(), 0);

        panel.setCaptureState(true, 61.0);
        QCOMPARE(p.writeFpsLabel()->text(), de("Write FPS: %1").arg(61));
    }

    void warningUsesTheLanguageOfTheMoment()
    {
        KorvaneWidget panel(nullptr);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        panel.setInitialized(true);
        QCoreApplication::installTranslator(&german);
        QString title, text;
        const ModalWatcher watcher([&](QWidget* modal) {
            title = modal->windowTitle();
            if (auto* box = qobject_cast<QMessageBox*>(modal))
                text = box->text();
        });
        QTest::keyClick(KorvaneWidgetProbe{panel}.resolutionCombo(), Qt::Key_Up);
        QCOMPARE(watcher.seen(), 1);
        QCOMPARE(title, de(wideWarningTitle));
        QCOMPARE(text, de(wideWarningText));
    }

    void screenshots_data()
    {
        QTest::addColumn<QString>("language");
        QTest::newRow("en") << "en";
        QTest::newRow("de") << "de";
    }

    // Renders the three capture states to build/<preset>/screenshots for people to look at.
    void screenshots()
    {
        QFETCH(QString, language);
        if (language == QLatin1String("de"))
            QCoreApplication::installTranslator(&german);
        const QDir folder(QStringLiteral(KORVANE_SCREENSHOT_DIR));
        QVERIFY(folder.mkpath(QStringLiteral(".")));

        ListedDevicesPlugin plugin({QStringLiteral("0: USB Capture HD")});
        KorvaneWidget panel(&plugin);
        panel.resize(360, panel.sizeHint().height());
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        const KorvaneWidgetProbe p{panel};

        QList<QImage> shots;
        const auto shoot = [&](const char* state) {
            shots << panel.grab().toImage();
            const QString file = folder.filePath(QStringLiteral("panel-%1-%2.png").arg(QLatin1String(state), language));
            return shots.last().save(file);
        };
        QVERIFY(shoot("idle"));
        p.clickStartStop();
        panel.setStartingState();
        QVERIFY(shoot("starting"));
        panel.setCaptureState(true, 59.94);
        QVERIFY(shoot("capturing"));
        // The states must look different, or the pictures show nothing of them.
        QVERIFY(shots[0] != shots[1] && shots[1] != shots[2] && shots[0] != shots[2]);
    }
};

QTEST_MAIN(KorvaneWidgetTextsTest)
#include "test_korvane_widget_texts.moc"
