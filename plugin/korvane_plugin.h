#pragma once

#include "host/plugin_interfaces.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

class QTimer;
namespace cv {
class VideoCapture;
}
struct IEnumMoniker;

namespace Vardel {

class KorvaneWidget;
class SessionNotifier;
class SettingsManager;
class VideoRingBufferWriter;
struct CaptureRequest;

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

private slots:
    void onVideoSourceChanged(const QString& source);
    void onCaptureFrameRateChanged(int fps);
    void onCaptureResolutionChanged(const QString& resolution);
    void onCaptureToggleRequested(bool startCapture);
    void updateFPS();

private:
    // Owns at most one thread; stop() waits for it to end.
    class RAIIThread {
    public:
        RAIIThread() = default;
        ~RAIIThread() { stop(); }
        RAIIThread(const RAIIThread&) = delete;
        RAIIThread& operator=(const RAIIThread&) = delete;
        // Only ever given a thread while empty: callers stop() first.
        RAIIThread& operator=(std::thread&& thread);
        void stop();

    private:
        std::thread thread_;
    };

    void loadSettings();
    void saveSettings();
    void reportSettingsTrouble(const QString& accessMessage);

    void startCaptureAsync();
    void startCaptureWorker(const CaptureRequest& request);
    void stopCapture();
    void stopCaptureWorker();
    void applyVideoSource(const QString& source);
    void waitForWorkers();
    // Waits for the start and stop workers, then stops a session that is still running.
    void endSession();

    // The workers' answers, run on the user-interface thread (through notifier).
    void onStartRefused();
    void onFirstDeviceChosen();
    void onSessionStarted();
    void onSessionStopped();
    void takeUpQueuedStart();

    bool openVideoSource(const QString& source, int width, int height, int fps);
    void captureLoop();
    void testPatternLoop();
    static QStringList collectDeviceNames(IEnumMoniker* enumerator);

    void syncSettingsToWidget();

    // Guarded: the host owns the panel and may delete it while the plug-in lives.
    QPointer<KorvaneWidget> widget;
    SettingsManager* settingsManager = nullptr;
    std::unique_ptr<VideoRingBufferWriter> ringWriter;
    std::unique_ptr<cv::VideoCapture> videoCapture;
    QString videoSource;
    int captureFrameRate = 60;
    QString captureResolution = QStringLiteral("1920x1080");

    // Read or counted by the frame thread on every frame: a cache line of their own.
    alignas(64) std::atomic<bool> running{false};
    bool testMode = false;
    std::uint32_t captureWidth = 0;
    std::uint32_t captureHeight = 0;
    std::atomic<int> framesWritten{0};
    int sessionFrameRate = 0; // the rate the running test pattern was started with

    // Written by the user-interface thread once a second: kept off the frame thread's line.
    alignas(64) double currentFps = 0.0;
    QTimer* fpsTimer = nullptr;
    std::int64_t fpsLastTime = 0;
    std::uint64_t fpsLastCount = 0;
    bool startPending = false; // user-interface thread only: a start has been requested and not answered yet
    bool startQueued = false;  // user-interface thread only: another start was asked for meanwhile
    SessionNotifier* notifier; // child of the plug-in

    RAIIThread frameThread;
    RAIIThread startThread;
    RAIIThread stopThread;
    QString lastFailedSource;
    std::int64_t lastFailedTime = 0;
    bool settingsTroubleReported = false; // one warning about an unusable settings file

    friend class SessionNotifier;
    friend struct KorvanePluginProbe; // white-box access for the tests
};

} // namespace Vardel
