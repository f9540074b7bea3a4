#pragma once

#include "capture/capture_engine.h"
#include "capture/capture_request.h"
#include "host/plugin_interfaces.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class QTimer;
namespace cv {
class VideoCapture;
}

namespace Vardel {

class KorvaneWidget;
class SettingsManager;
class VideoRingBufferWriter;

class KorvanePlugin : public QObject, public IUIPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.vardel.IUIPlugin" FILE "korvane.json")
    Q_INTERFACES(Vardel::IPlugin Vardel::IUIPlugin)

public:
    KorvanePlugin();
    ~KorvanePlugin() override;

    void retranslate() override;
    QString pluginId() const override;
    QString name() const override;
    QString version() const override;
    QJsonObject metadata() const override;
    bool initialize() override;
    void shutdown() override;
    void reservedHook() override;
    QStringList dependencies() const override;
    void setSettingsManager(SettingsManager* settings) override;
    QWidget* createWidget() override;
    QObject* reservedObject() override;
    bool reservedFlag1() const override;
    bool reservedFlag2() const override;

    // The video sources the user can choose from: the built-in test source first, then
    // every capture device as "index: name".
    QStringList enumerateVideoDevices();

protected:
    // Makes the (unopened) capture object; tests replace the device here.
    virtual std::unique_ptr<cv::VideoCapture> makeVideoCapture();
    // The platform's device entries, listed after the test source; tests supply their own.
    virtual QStringList deviceEntries();
    // What device index offers (formats, sizes, best rates); called on the session thread.
    virtual std::vector<CaptureMode> deviceModes(int index);

private slots:
    void onVideoSourceChanged(const QString& source);
    void onCaptureFrameRateChanged(int fps);
    void onCaptureResolutionChanged(const QString& resolution);
    void onCaptureToggleRequested(bool startCapture);
    void updateFPS();

private:
    void loadSettings();
    void saveSettings();
    // Connects the ring writer (again) and hands it to the engine.
    void connectRing();
    // A stored source whose device came back under another index (re-plugged, or another
    // device added) follows it: the one listed device of the same name.
    void followMovedSource(const QStringList& listed);

    // Session control (plugin/session_control.cpp): the panel's requests turned into the
    // engine's, one at a time; a request that comes while one is under way is queued.
    void startCaptureAsync();
    void requestStop();
    void applyVideoSource(const QString& source);
    void restartSession();
    std::optional<QString> unavailableReason() const;
    // What a start now would run: the source the panel shows, the rate and size chosen.
    CaptureRequest wantedRequest() const;
    // Ends whatever runs or is under way, before returning, and settles the panel.
    void endSession();
    // The engine's answers.
    void onStartRefused();
    void onFirstDeviceChosen();
    void onSessionStarted();
    void onSessionStopped();
    void takeUpQueuedStart();

    // The panel, as session control sees it (plugin/panel_hookup.cpp); each does nothing
    // without a panel.
    void syncSettingsToWidget();
    void showIdle();
    void showStarting();
    void showCapturing();
    void showStartAnswered();
    void showSource(const QString& source);
    QString panelSource() const;
    void assertUserInterfaceThread() const;

    // Everything here belongs to the user-interface thread; the threads are the engine's.
    QPointer<KorvaneWidget> widget; // guarded: the host owns the panel and may delete it
    SettingsManager* settingsManager = nullptr;
    std::unique_ptr<VideoRingBufferWriter> ringWriter; // lent to the engine, which goes first
    QString videoSource;
    int captureFrameRate = 60;
    QString captureResolution = QStringLiteral("1920x1080");
    QStringList listedSources; // what enumerateVideoDevices answered last

    double currentFps = 0.0;
    QTimer* fpsTimer = nullptr;
    enum class Lifecycle { Constructed, Initialized, ShutDown } lifecycle = Lifecycle::Constructed;
    QString ringName;           // the ring connected at initialize
    bool ringConnected = false; // what connect() answered
    bool startPending = false;  // a start has not been answered yet
    bool stopPending = false;   // a stop has not been answered yet
    bool startQueued = false;   // a start asked for while one of them was pending
    CaptureRequest sessionRequest; // what the pending or running session was started with

    // After the ring writer: the engine and its threads end before the writer goes.
    CaptureEngine engine;

    friend struct KorvanePluginProbe; // white-box access for the tests
};

} // namespace Vardel
