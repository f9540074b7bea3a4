#include "plugin/korvane_plugin.h"

#include "host/ring/video_ring_buffer_writer.h"
#include "plugin/plugin_names.h"
#include "ui/korvane_widget.h"

#include <QCoreApplication>
#include <QEvent>
#include <QJsonObject>

#include <opencv2/videoio.hpp>

namespace Vardel {

// The frame thread's fields and the rate fields each start a cache line of their own;
// new of this over-aligned class honours the alignment.
static_assert(alignof(KorvanePlugin) == 64);

KorvanePlugin::KorvanePlugin() = default;

void KorvanePlugin::retranslate()
{
    if (!widget)
        return;
    QEvent event(QEvent::LanguageChange);
    QCoreApplication::sendEvent(widget.data(), &event);
}

QString KorvanePlugin::pluginId() const { return names::pluginId; }
QString KorvanePlugin::name() const { return names::displayName; }
QString KorvanePlugin::version() const { return names::version; }

QJsonObject KorvanePlugin::metadata() const
{
    return QJsonObject{
        {QStringLiteral("type"), QStringLiteral("video_source")},
        {QStringLiteral("displayName"), names::displayName},
        {QStringLiteral("description"), QStringLiteral("Optimized video capture for modern gaming capture cards")},
        {QStringLiteral("author"), QStringLiteral("Vardel Team")},
        {QStringLiteral("version"), names::version},
        {QStringLiteral("requiresAuthentication"), false},
        {QStringLiteral("platform"), QStringLiteral("windows")},
        {QStringLiteral("priority"), 50},
    };
}

void KorvanePlugin::reservedHook() {}
QStringList KorvanePlugin::dependencies() const { return {}; }
QObject* KorvanePlugin::reservedObject() { return nullptr; }
bool KorvanePlugin::reservedFlag1() const { return true; }
bool KorvanePlugin::reservedFlag2() const { return true; }

void KorvanePlugin::setSettingsManager(SettingsManager* settings) { settingsManager = settings; }

std::unique_ptr<cv::VideoCapture> KorvanePlugin::makeVideoCapture() { return std::make_unique<cv::VideoCapture>(); }

void KorvanePlugin::onCaptureFrameRateChanged(int fps)
{
    // Applies to the next start; a running capture keeps its rate.
    captureFrameRate = fps;
    saveSettings();
}

void KorvanePlugin::onCaptureResolutionChanged(const QString& resolution)
{
    captureResolution = resolution;
    saveSettings();
}

KorvanePlugin::RAIIThread& KorvanePlugin::RAIIThread::operator=(std::thread&& thread)
{
    stop(); // never drop a running thread
    thread_ = std::move(thread);
    return *this;
}

void KorvanePlugin::RAIIThread::stop()
{
    if (thread_.joinable())
        thread_.join();
}

} // namespace Vardel
