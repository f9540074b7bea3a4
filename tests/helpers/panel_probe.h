#pragma once

#include "host/themed_tool_button.h"
#include "plugin/korvane_plugin.h"
#include "ui/korvane_widget.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace Vardel {

// White-box view of a panel's children, so that tests can click and type on them.
struct KorvaneWidgetProbe {
    KorvaneWidget& panel;

    QComboBox* deviceCombo() const { return panel.deviceCombo; }
    QComboBox* frameRateCombo() const { return panel.frameRateCombo; }
    QComboBox* resolutionCombo() const { return panel.resolutionCombo; }
    ThemedToolButton* refreshButton() const { return panel.refreshButton; }
    QPushButton* startStopButton() const { return panel.startStopButton; }
    QLabel* writeFpsLabel() const { return panel.writeFpsLabel; }
    QString pendingVideoSource() const { return panel.pendingVideoSource; }

    void clickStartStop() const { QTest::mouseClick(panel.startStopButton, Qt::LeftButton); }
    void clickRefresh() const { QTest::mouseClick(panel.refreshButton, Qt::LeftButton); }

    // How many of the four choosers (device, refresh, frame rate, resolution) are enabled.
    int choosersEnabled() const
    {
        return int(panel.deviceCombo->isEnabled()) + int(panel.refreshButton->isEnabled()) +
               int(panel.frameRateCombo->isEnabled()) + int(panel.resolutionCombo->isEnabled());
    }

    // Every text that follows the language, in panel order: group titles, row labels,
    // frame-rate entries, button, write-rate label.
    QStringList translatedTexts() const
    {
        QStringList texts{panel.sourceGroup->title(),   panel.settingsGroup->title(), panel.controlGroup->title(),
                          panel.deviceLabel->text(),    panel.frameRateLabel->text(), panel.resolutionLabel->text()};
        for (int i = 0; i < panel.frameRateCombo->count(); ++i)
            texts << panel.frameRateCombo->itemText(i);
        return texts << panel.startStopButton->text() << panel.writeFpsLabel->text();
    }
};

namespace testing {

inline const QString wideWarningTitle = QStringLiteral("1440p Resolution Warning");
inline const QString wideWarningText = QStringLiteral(
    "1440p capture requires significantly more processing power and memory.\n\n"
    "Only use this setting if you specifically need higher resolution capture and are an expert who understands "
    "the performance implications.\n\n"
    "For all users, 1080p capture is recommended. You may still play your game at any resolution.\n\n");

inline QStringList itemTexts(const QComboBox* combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

inline QVariantList itemData(const QComboBox* combo)
{
    QVariantList data;
    for (int i = 0; i < combo->count(); ++i)
        data << combo->itemData(i);
    return data;
}

// One spy per panel signal.
struct PanelSpies {
    explicit PanelSpies(KorvaneWidget* panel)
        : source(panel, &KorvaneWidget::videoSourceChanged), frameRate(panel, &KorvaneWidget::captureFrameRateChanged),
          resolution(panel, &KorvaneWidget::captureResolutionChanged), toggle(panel, &KorvaneWidget::captureToggleRequested)
    {
    }
    qsizetype total() const { return source.count() + frameRate.count() + resolution.count() + toggle.count(); }

    QSignalSpy source;
    QSignalSpy frameRate;
    QSignalSpy resolution;
    QSignalSpy toggle;
};

// A plug-in whose devices the test chooses; they follow the built-in test source.
class ListedDevicesPlugin : public KorvanePlugin {
public:
    explicit ListedDevicesPlugin(QStringList devices = {}) : devices(std::move(devices)) {}
    QStringList devices;

protected:
    QStringList deviceEntries() override { return devices; }
};

} // namespace testing
} // namespace Vardel
