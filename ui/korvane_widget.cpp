#include "ui/korvane_widget.h"

#include "host/themed_tool_button.h"
#include "plugin/korvane_plugin.h"

#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <cmath>

namespace Vardel {

namespace {
const QString kWideResolution = QStringLiteral("2560x1440");

// What the device chooser shows for a source string: the text between the first and the
// second colon, trimmed ("-1: Video Test" shows as "Video Test").
QString displayText(const QString& source)
{
    const qsizetype first = source.indexOf(QLatin1Char(':'));
    if (first < 0)
        return source;
    const qsizetype second = source.indexOf(QLatin1Char(':'), first + 1);
    const qsizetype length = second < 0 ? -1 : second - first - 1;
    return source.mid(first + 1, length).trimmed();
}
} // namespace

KorvaneWidget::KorvaneWidget(KorvanePlugin* plugin, QWidget* parent)
    : QWidget(parent), plugin(plugin)
{
    setupUi();
    refreshAvailableSources();
}

KorvaneWidget::~KorvaneWidget()
{
    // Deleted while the 1440p warning is open: the warning runs inside the resolution
    // chooser's signal, and the chooser still works on itself once that returns.
    if (warningOpen) {
        resolutionCombo->disconnect();
        resolutionCombo->setParent(nullptr);
        resolutionCombo->deleteLater();
    }
}

void KorvaneWidget::setupUi()
{
    mainLayout = new QVBoxLayout(this);
    setLayout(mainLayout);

    sourceGroup = std::make_unique<QGroupBox>(tr("Capture Source"));
    sourceLayout = new QFormLayout;
    sourceGroup->setLayout(sourceLayout);

    deviceCombo = new QComboBox;
    deviceCombo->setEditable(false);
    connect(deviceCombo, &QComboBox::currentIndexChanged, this, &KorvaneWidget::onSourceSelectionChanged);

    refreshButton = new ThemedToolButton(QStringLiteral(":/icons/refresh.svg"), this);
    refreshButton->setFixedSize(30, 30);
    connect(refreshButton, &QToolButton::clicked, this, &KorvaneWidget::refreshAvailableSources);

    auto* deviceRow = new QHBoxLayout;
    deviceRow->addWidget(deviceCombo, 1);
    deviceRow->addWidget(refreshButton, 0);
    deviceLabel = new QLabel(tr("Device:"));
    sourceLayout->addRow(deviceLabel, deviceRow);

    settingsGroup = std::make_unique<QGroupBox>(tr("Settings"));
    settingsLayout = new QFormLayout;
    settingsGroup->setLayout(settingsLayout);
    setupFrameRateCombo();
    setupResolutionCombo();
    frameRateLabel = new QLabel(tr("Frame Rate:"));
    resolutionLabel = new QLabel(tr("Resolution:"));
    settingsLayout->addRow(frameRateLabel, frameRateCombo);
    settingsLayout->addRow(resolutionLabel, resolutionCombo);

    controlGroup = std::make_unique<QGroupBox>(tr("Control"));
    controlLayout = new QVBoxLayout;
    controlGroup->setLayout(controlLayout);
    startStopButton = new QPushButton(tr("Start Capture"));
    startStopButton->setCheckable(true);
    connect(startStopButton, &QPushButton::clicked, this, &KorvaneWidget::onStartStopClicked);
    writeFpsLabel = new QLabel(tr("Write FPS: --"));
    controlLayout->addWidget(startStopButton);
    controlLayout->addWidget(writeFpsLabel);

    mainLayout->addWidget(sourceGroup.get());
    mainLayout->addWidget(settingsGroup.get());
    mainLayout->addWidget(controlGroup.get());
    mainLayout->addStretch(0);

    updateStartStopButton();
    updateControlsEnabled();
}

void KorvaneWidget::setupFrameRateCombo()
{
    frameRates = {30, 60, 120, 240};
    frameRateCombo = new QComboBox;
    for (int fps : frameRates)
        frameRateCombo->addItem(tr("%1 FPS").arg(fps), fps);
    frameRateCombo->setCurrentIndex(1); // before the handler is connected: nothing is emitted
    // Not a slot: a direct call whose context is the combo itself.
    connect(frameRateCombo, &QComboBox::currentIndexChanged, [this](int index) { onFrameRateIndexChanged(index); });
}

void KorvaneWidget::setupResolutionCombo()
{
    resolutions = {kWideResolution, QStringLiteral("1920x1080"), QStringLiteral("1280x720"), QStringLiteral("640x480")};
    // Fixed texts: the resolutions read the same in every language.
    const QStringList texts = {QStringLiteral("1440p (2560x1440)"), QStringLiteral("1080p (1920x1080)"),
                               QStringLiteral("720p (1280x720)"), QStringLiteral("480p (640x480)")};
    resolutionCombo = new QComboBox;
    for (qsizetype i = 0; i < resolutions.size(); ++i)
        resolutionCombo->addItem(texts[i], resolutions[i]);
    resolutionCombo->setCurrentIndex(1);
    connect(resolutionCombo, &QComboBox::currentIndexChanged, [this](int index) { onResolutionIndexChanged(index); });
}

void KorvaneWidget::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslateUi();
    QWidget::changeEvent(event);
}

void KorvaneWidget::retranslateUi()
{
    if (sourceGroup)
        sourceGroup->setTitle(tr("Capture Source"));
    if (settingsGroup)
        settingsGroup->setTitle(tr("Settings"));
    if (controlGroup)
        controlGroup->setTitle(tr("Control"));
    if (deviceLabel)
        deviceLabel->setText(tr("Device:"));
    if (frameRateLabel)
        frameRateLabel->setText(tr("Frame Rate:"));
    if (resolutionLabel)
        resolutionLabel->setText(tr("Resolution:"));
    // The next rate report puts the number back.
    if (writeFpsLabel)
        writeFpsLabel->setText(tr("Write FPS: --"));
    updateStartStopButton();
    if (frameRateCombo) {
        for (int i = 0; i < frameRateCombo->count(); ++i)
            frameRateCombo->setItemText(i, tr("%1 FPS").arg(frameRateCombo->itemData(i).toInt()));
    }
}

void KorvaneWidget::updateStartStopButton()
{
    if (isCapturing) {
        startStopButton->setText(tr("Stop Capture"));
        startStopButton->setChecked(true);
        startStopButton->setEnabled(true);
    } else {
        // The enabled state is left alone: after a start attempt the plug-in decides.
        startStopButton->setText(tr("Start Capture"));
        startStopButton->setChecked(false);
    }
}

void KorvaneWidget::updateControlsEnabled()
{
    deviceCombo->setEnabled(!isCapturing);
    refreshButton->setEnabled(!isCapturing);
    frameRateCombo->setEnabled(!isCapturing);
    resolutionCombo->setEnabled(!isCapturing);
}

void KorvaneWidget::onSourceSelectionChanged()
{
    const int index = deviceCombo->currentIndex();
    if (index >= 0 && index < availableSources.size())
        emit videoSourceChanged(availableSources[index]);
}

void KorvaneWidget::onFrameRateIndexChanged(int index)
{
    if (index >= 0 && index < frameRates.size())
        emit captureFrameRateChanged(frameRates[index]);
}

void KorvaneWidget::onResolutionIndexChanged(int index)
{
    if (index < 0 || index >= resolutions.size())
        return;
    const QString resolution = resolutions[index];
    if (initialized && resolution == kWideResolution) {
        // The dialog runs an event loop, in which the host may delete this panel and, with
        // it, the dialog: so the dialog is not a stack object, and nothing is emitted after.
        const QPointer<KorvaneWidget> self(this);
        const QPointer<QMessageBox> box = new QMessageBox(
            QMessageBox::Warning, tr("1440p Resolution Warning"),
            tr("1440p capture requires significantly more processing power and memory.\n\n"
               "Only use this setting if you specifically need higher resolution capture and are an expert who "
               "understands the performance implications.\n\n"
               "For all users, 1080p capture is recommended. You may still play your game at any resolution.\n\n"),
            QMessageBox::Ok, this);
        warningOpen = true;
        box->exec();
        if (!self)
            return;
        warningOpen = false;
        delete box.data();
    }
    emit captureResolutionChanged(resolution);
}

void KorvaneWidget::onStartStopClicked() { emit captureToggleRequested(!isCapturing); }

void KorvaneWidget::refreshAvailableSources()
{
    if (!plugin)
        return;
    availableSources = plugin->enumerateVideoDevices();
    const QSignalBlocker blocker(deviceCombo);
    deviceCombo->clear();
    deviceCombo->setEnabled(true);
    for (const QString& source : std::as_const(availableSources))
        deviceCombo->addItem(displayText(source), source);
    if (!pendingVideoSource.isEmpty()) {
        selectVideoSource(pendingVideoSource);
        pendingVideoSource.clear();
    }
}

void KorvaneWidget::selectVideoSource(const QString& source)
{
    if (source.isEmpty())
        return;
    if (const int index = deviceCombo->findData(source); index >= 0)
        deviceCombo->setCurrentIndex(index);
}

void KorvaneWidget::setVideoSource(const QString& source)
{
    pendingVideoSource = source;
    if (deviceCombo->count() > 0 && !source.isEmpty()) {
        selectVideoSource(source);
        pendingVideoSource.clear();
    }
}

void KorvaneWidget::setCaptureFrameRate(int fps)
{
    if (const int index = frameRateCombo->findData(fps); index >= 0) {
        const QSignalBlocker blocker(frameRateCombo);
        frameRateCombo->setCurrentIndex(index);
    }
}

void KorvaneWidget::setCaptureResolution(const QString& resolution)
{
    if (const int index = resolutionCombo->findData(resolution); index >= 0) {
        const QSignalBlocker blocker(resolutionCombo);
        resolutionCombo->setCurrentIndex(index);
    }
}

QString KorvaneWidget::currentVideoSource() const
{
    const int index = deviceCombo->currentIndex();
    return index >= 0 && index < availableSources.size() ? availableSources[index] : QString();
}

void KorvaneWidget::setCaptureState(bool capturing, double writeFps)
{
    isCapturing = capturing;
    if (capturing) {
        // Halves away from zero: 59.5 shows as 60.
        writeFpsLabel->setText(tr("Write FPS: %1").arg(static_cast<int>(std::lround(writeFps))));
    } else {
        writeFpsLabel->setText(tr("Write FPS: --"));
    }
    updateStartStopButton();
    updateControlsEnabled();
}

void KorvaneWidget::setStartingState()
{
    startStopButton->setEnabled(false);
    startStopButton->setText(tr("Starting..."));
}

void KorvaneWidget::resetStartStopButton()
{
    startStopButton->setText(isCapturing ? tr("Stop Capture") : tr("Start Capture"));
    startStopButton->setChecked(isCapturing);
    startStopButton->setEnabled(true);
}

void KorvaneWidget::setInitialized(bool value) { initialized = value; }

} // namespace Vardel
