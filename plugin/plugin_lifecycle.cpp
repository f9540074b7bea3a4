#include "plugin/korvane_plugin.h"

#include "host/logging_service.h"
#include "host/settings_manager.h"
#include "host/shared_memory_manager.h"
#include "host/ring/video_ring_buffer_writer.h"
#include "capture/ring_geometry.h"
#include "plugin/plugin_names.h"

#include <QCoreApplication>
#include <QTimer>

#include <opencv2/core/utility.hpp>
#include <opencv2/videoio.hpp>

namespace Vardel {

KorvanePlugin::~KorvanePlugin()
{
    shutdown();
    // The members go in reverse order: the engine, whose threads have ended, before the
    // ring writer it borrowed.
}

bool KorvanePlugin::initialize()
{
    assertUserInterfaceThread();
    // Called again, initialize must not pull the writer or the device from under a session.
    endSession();
    lifecycle = Lifecycle::Initialized;

    ringName = SharedMemoryManager::instance().getVideoRingBufferName();
    ringWriter = std::make_unique<VideoRingBufferWriter>();
    connectRing();

    delete fpsTimer;
    fpsTimer = new QTimer(this);
    connect(fpsTimer, &QTimer::timeout, this, &KorvanePlugin::updateFPS);
    fpsTimer->start(1000);

    // endSession closed the device on its session thread; what goes here is a closed object.
    engine.useCapture(makeVideoCapture(), [this](int index) { return deviceModes(index); });
    cv::setNumThreads(1);
    loadSettings();
    return true;
}

void KorvanePlugin::shutdown()
{
    assertUserInterfaceThread();
    // From here on no start runs, also none that the event processing below delivers.
    if (lifecycle == Lifecycle::Initialized)
        lifecycle = Lifecycle::ShutDown;
    startQueued = false;
    // No worker may still be opening the device or starting a frame thread when the
    // capture object goes.
    endSession();
    if (fpsTimer) {
        fpsTimer->stop();
        delete fpsTimer;
        fpsTimer = nullptr;
    }
    // Answers the workers queued are delivered before the settings are written.
    QCoreApplication::processEvents();
    saveSettings();
    engine.useCapture(nullptr); // closed by endSession on its session thread
}

void KorvanePlugin::connectRing()
{
    ringConnected = ringWriter->connect(ringName.toStdString(), kRingSlotCount, kRingSlotBytes);
    if (!ringConnected)
        LoggingService::instance()->error(names::logSource,
                                          QStringLiteral("Failed to connect video ring buffer %1").arg(ringName));
    engine.useRing(ringWriter.get(), ringName);
}

void KorvanePlugin::loadSettings()
{
    if (!settingsManager) {
        LoggingService::instance()->warning(names::logSource,
                                            QStringLiteral("SettingsManager not available, using defaults"));
        return;
    }
    // Taken as stored: a frame rate that is not a number reads as 0, and the start
    // refuses values it cannot serve.
    videoSource = settingsManager->getPluginValue(names::settingsGroup, names::keyVideoSource, QVariant(QString()))
                      .toString();
    captureFrameRate =
        settingsManager->getPluginValue(names::settingsGroup, names::keyCaptureFrameRate, QVariant(60)).toInt();
    captureResolution = settingsManager
                            ->getPluginValue(names::settingsGroup, names::keyCaptureResolution,
                                             QVariant(QStringLiteral("1920x1080")))
                            .toString();
}

void KorvanePlugin::saveSettings()
{
    if (!settingsManager)
        return;
    settingsManager->setPluginValue(names::settingsGroup, names::keyVideoSource, QVariant(videoSource));
    settingsManager->setPluginValue(names::settingsGroup, names::keyCaptureFrameRate, QVariant(captureFrameRate));
    settingsManager->setPluginValue(names::settingsGroup, names::keyCaptureResolution, QVariant(captureResolution));
}

} // namespace Vardel
