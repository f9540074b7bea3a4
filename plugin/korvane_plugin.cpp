#include "plugin/korvane_plugin.h"

#include "capture/platform.h"
#include "host/ring/video_ring_buffer_writer.h"
#include "plugin/plugin_names.h"
#include "ui/korvane_widget.h"

#include <QCoreApplication>
#include <QEvent>
#include <QJsonObject>

#include <opencv2/videoio.hpp>

namespace Vardel {

// The engine's frame-thread fields and its user-interface fields each start a cache line
// of their own; new of this over-aligned class honours the alignment.
static_assert(alignof(KorvanePlugin) == 64);

KorvanePlugin::KorvanePlugin()
{
    connect(&engine, &CaptureEngine::refused, this, &KorvanePlugin::onStartRefused);
    connect(&engine, &CaptureEngine::firstDeviceChosen, this, &KorvanePlugin::onFirstDeviceChosen);
    connect(&engine, &CaptureEngine::started, this, &KorvanePlugin::onSessionStarted);
    connect(&engine, &CaptureEngine::stopped, this, &KorvanePlugin::onSessionStopped);
}

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

QStringList KorvanePlugin::enumerateVideoDevices()
{
    // The test source always comes first: a start without a chosen source takes it.
    QStringList sources{names::testSource};
    sources += deviceEntries();
    listedSources = sources;
    return sources;
}

QStringList KorvanePlugin::deviceEntries() { return platform::videoDeviceEntries(); }

std::vector<CaptureMode> KorvanePlugin::deviceModes(int index) { return platform::deviceModes(index); }

} // namespace Vardel
