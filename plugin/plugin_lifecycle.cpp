#include "plugin/korvane_plugin.h"

#include "host/logging_service.h"
#include "host/settings_manager.h"
#include "host/shared_memory_manager.h"
#include "host/ring/video_ring_buffer_writer.h"
#include "plugin/plugin_names.h"
#include "ui/korvane_widget.h"

#include <QCoreApplication>
#include <QTimer>

#include <utility>

#include <opencv2/core/utility.hpp>
#include <opencv2/videoio.hpp>

namespace Vardel {

namespace {
constexpr unsigned kRingSlots = 8;
constexpr unsigned kRingSlotBytes = 16 * 1024 * 1024;
} // namespace

KorvanePlugin::~KorvanePlugin()
{
    shutdown();
    // The members go in reverse order: the worker threads are joined before the ring
    // writer they use is destroyed.
}

bool KorvanePlugin::initialize()
{
    // Called again, initialize must not pull the writer or the device from under a session.
    endSession();

    const QString ringName = SharedMemoryManager::instance().getVideoRingBufferName();
    ringWriter = std::make_unique<VideoRingBufferWriter>();
    if (!ringWriter->connect(ringName.toStdString(), kRingSlots, kRingSlotBytes)) {
        LoggingService::instance()->error(
            names::logSource, QStringLiteral("Failed to connect video ring buffer %1: %2")
                                  .arg(ringName, QString::fromStdString(ringWriter->lastError())));
    }

    delete fpsTimer;
    fpsTimer = new QTimer(this);
    connect(fpsTimer, &QTimer::timeout, this, &KorvanePlugin::updateFPS);
    fpsTimer->start(1000);

    if (videoCapture && videoCapture->isOpened())
        videoCapture->release();
    videoCapture = makeVideoCapture();
    cv::setNumThreads(1);
    loadSettings();
    return true;
}

void KorvanePlugin::shutdown()
{
    // No worker may still be opening the device or starting a frame thread when the
    // capture object goes.
    endSession();
    if (fpsTimer) {
        fpsTimer->stop();
        delete fpsTimer;
        fpsTimer = nullptr;
    }
    // Notifications the workers queued are delivered before the settings are written.
    QCoreApplication::processEvents();
    saveSettings();
    // Those events may have started a capture (a start request queued just before, or one
    // waiting for a start's answer): it ends here too, before the device goes.
    startQueued = false;
    endSession();
    if (videoCapture) {
        if (videoCapture->isOpened())
            videoCapture->release();
        videoCapture.reset();
    }
}

void KorvanePlugin::endSession()
{
    waitForWorkers();
    if (running) {
        if (widget)
            widget->setCaptureState(false, 0.0);
        stopCapture();
    }
}

void KorvanePlugin::waitForWorkers()
{
    // The stop worker first: it may itself be waiting for the start worker.
    stopThread.stop();
    startThread.stop();
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
    // An unreadable file gave the defaults, a damaged one what could still be read of it.
    reportSettingsTrouble(QStringLiteral("Settings file %1 cannot be read, using defaults"));
}

void KorvanePlugin::reportSettingsTrouble(const QString& accessMessage)
{
    // The store's status keeps its first error, and every change saves again: one line
    // says what is wrong with the file, however often it is touched. Damage outside this
    // plug-in's group only shows once the whole file is read, at the first save, which
    // drops the lines that cannot be read.
    const QSettings::Status status = settingsManager->status();
    if (status == QSettings::NoError || std::exchange(settingsTroubleReported, true))
        return;
    const QString message = status == QSettings::AccessError
        ? accessMessage
        : QStringLiteral("Settings file %1 is damaged: what cannot be read of it is lost, defaults stand in for it");
    LoggingService::instance()->warning(names::logSource, message.arg(settingsManager->fileName()));
}

void KorvanePlugin::saveSettings()
{
    if (!settingsManager)
        return;
    settingsManager->setPluginValue(names::settingsGroup, names::keyVideoSource, QVariant(videoSource));
    settingsManager->setPluginValue(names::settingsGroup, names::keyCaptureFrameRate, QVariant(captureFrameRate));
    settingsManager->setPluginValue(names::settingsGroup, names::keyCaptureResolution, QVariant(captureResolution));
    reportSettingsTrouble(QStringLiteral("Settings could not be written to %1"));
}

} // namespace Vardel
