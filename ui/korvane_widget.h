#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

class QComboBox;
class QFormLayout;
class QGroupBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace Vardel {

class KorvanePlugin;
class ThemedToolButton;

// The control panel the host embeds: device, frame-rate and resolution choosers, the
// start/stop button and the write rate. It holds no capture logic: it asks the plug-in
// through its signals and shows the state the plug-in reports back.
class KorvaneWidget : public QWidget {
    Q_OBJECT

public:
    explicit KorvaneWidget(KorvanePlugin* plugin, QWidget* parent = nullptr);
    ~KorvaneWidget() override;

    void setCaptureState(bool capturing, double writeFps);
    void setStartingState();
    void resetStartStopButton();
    void setVideoSource(const QString& source);
    void setCaptureFrameRate(int fps);
    void setCaptureResolution(const QString& resolution);
    QString currentVideoSource() const;
    void setInitialized(bool value);

signals:
    void videoSourceChanged(const QString& source);
    void captureFrameRateChanged(int fps);
    void captureResolutionChanged(const QString& resolution);
    void captureToggleRequested(bool startCapture);

protected:
    void changeEvent(QEvent* event) override;

private slots:
    void onSourceSelectionChanged();
    void onStartStopClicked();
    void refreshAvailableSources();

private:
    void setupUi();
    void setupFrameRateCombo();
    void setupResolutionCombo();
    void retranslateUi();
    void updateStartStopButton();
    void updateControlsEnabled();
    void onFrameRateIndexChanged(int index);
    void onResolutionIndexChanged(int index);
    void selectVideoSource(const QString& source);

    QPointer<KorvanePlugin> plugin; // not owned; guarded because the host decides which goes first
    // The groups are owned here as well as by the widget tree, so that they go in a fixed
    // order (control, settings, source) before the base class deletes what is left.
    std::unique_ptr<QGroupBox> sourceGroup;
    std::unique_ptr<QGroupBox> settingsGroup;
    std::unique_ptr<QGroupBox> controlGroup;
    QVBoxLayout* mainLayout = nullptr;
    QFormLayout* sourceLayout = nullptr;
    QComboBox* deviceCombo = nullptr;
    ThemedToolButton* refreshButton = nullptr;
    QLabel* deviceLabel = nullptr;
    QFormLayout* settingsLayout = nullptr;
    QComboBox* frameRateCombo = nullptr;
    QComboBox* resolutionCombo = nullptr;
    QLabel* frameRateLabel = nullptr;
    QLabel* resolutionLabel = nullptr;
    QVBoxLayout* controlLayout = nullptr;
    QPushButton* startStopButton = nullptr;
    QLabel* writeFpsLabel = nullptr;
    bool isCapturing = false;
    bool initialized = false;
    bool warningOpen = false; // the 1440p warning's event loop runs
    QString pendingVideoSource;
    QStringList availableSources;
    QList<int> frameRates;
    QStringList resolutions;
};

} // namespace Vardel
