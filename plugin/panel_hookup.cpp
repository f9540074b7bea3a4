// The plug-in's side of the panel: making it, showing the settings in it, and every
// change of what it shows on behalf of session control.

#include "plugin/korvane_plugin.h"

#include "host/logging_service.h"
#include "plugin/plugin_names.h"
#include "ui/korvane_widget.h"

#include <QThread>

namespace Vardel {

QWidget* KorvanePlugin::createWidget()
{
    assertUserInterfaceThread();
    if (widget)
        return widget;
    // No parent: the host places the panel in its window and owns it from then on.
    widget = new KorvaneWidget(this);
    connect(widget, &KorvaneWidget::videoSourceChanged, this, &KorvanePlugin::onVideoSourceChanged);
    connect(widget, &KorvaneWidget::captureFrameRateChanged, this, &KorvanePlugin::onCaptureFrameRateChanged);
    connect(widget, &KorvaneWidget::captureResolutionChanged, this, &KorvanePlugin::onCaptureResolutionChanged);
    connect(widget, &KorvaneWidget::captureToggleRequested, this, &KorvanePlugin::onCaptureToggleRequested);
    syncSettingsToWidget();
    // A panel asked for again (the host deleted the last one) shows the session, or the
    // start still under way, so that it offers no second start.
    if (engine.isRunning())
        showCapturing();
    else if (startPending || startQueued)
        showStarting();
    widget->setInitialized(true);
    return widget;
}

void KorvanePlugin::syncSettingsToWidget()
{
    if (!widget) {
        LoggingService::instance()->error(names::logSource, QStringLiteral("Widget is null, cannot sync settings"));
        return;
    }
    // A stored source found in the list is selected here and comes back through
    // onVideoSourceChanged, which saves once; values the panel does not offer stay the
    // plug-in's own and are written back at every save.
    followMovedSource(listedSources); // the list the panel was just filled with
    widget->setVideoSource(videoSource);
    widget->setCaptureFrameRate(captureFrameRate);
    widget->setCaptureResolution(captureResolution);
}

void KorvanePlugin::showIdle()
{
    if (widget)
        widget->setCaptureState(false, 0.0);
}

void KorvanePlugin::showStarting()
{
    if (widget)
        widget->setStartingState();
}

void KorvanePlugin::showCapturing()
{
    if (widget)
        widget->setCaptureState(true, currentFps);
}

void KorvanePlugin::showStartAnswered()
{
    if (widget)
        widget->resetStartStopButton();
}

void KorvanePlugin::showSource(const QString& source)
{
    if (widget)
        widget->setVideoSource(source);
}

QString KorvanePlugin::panelSource() const { return widget ? widget->currentVideoSource() : QString(); }

void KorvanePlugin::assertUserInterfaceThread() const
{
    // The panel, the timer and the session requests belong to the plug-in's thread.
    Q_ASSERT(QThread::currentThread() == thread());
}

} // namespace Vardel
