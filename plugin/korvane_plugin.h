#pragma once

#include "host/plugin_interfaces.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>

class QTimer;
namespace cv {
class VideoCapture;
}

namespace Vardel {

class KorvaneWidget;
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

    // Session control (capture/session_control.cpp).
    void startCaptureAsync();
    void startCaptureWorker(const CaptureRequest& request);
    void requestStop();
    void stopCapture();
    void stopCaptureWorker();
    void applyVideoSource(const QString& source);
    void restartSession();
    std::optional<QString> unavailableReason() const;
    void waitForWorkers();
    // Waits for the start and stop workers, then stops a session that is still running.
    void endSession();
    // The workers' answers, queued onto the user-interface thread.
    void onStartRefused();
    void onFirstDeviceChosen();
    void onSessionStarted();
    void onSessionStopped();
    void takeUpQueuedStart();

    bool openVideoSource(const QString& source, int width, int height, int fps);
    void captureLoop();
    void testPatternLoop();

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

    // User-interface thread: the host's calls, the slots, the timer and the workers' answers.
    QPointer<KorvaneWidget> widget; // guarded: the host owns the panel and may delete it
    SettingsManager* settingsManager = nullptr;
    std::unique_ptr<VideoRingBufferWriter> ringWriter; // used by every thread; replaced only between sessions
    std::unique_ptr<cv::VideoCapture> videoCapture;    // opened by the start worker, used by the frame thread
    QString videoSource;
    int captureFrameRate = 60;
    QString captureResolution = QStringLiteral("1920x1080");

    // The session: written by the start worker before it sets running (release), read by
    // the frame thread, which starts after, and by the other threads once they see
    // running (acquire). running and framesWritten are the only fields changed while a
    // session runs. A cache line of their own, away from the user-interface thread's.
    alignas(64) std::atomic<bool> running{false};
    bool testMode = false;
    std::uint32_t captureWidth = 0;
    std::uint32_t captureHeight = 0;
    std::atomic<int> framesWritten{0};
    int sessionFrameRate = 0; // the rate the running test pattern was started with

    // User-interface thread only, once a second and on the workers' answers.
    alignas(64) double currentFps = 0.0;
    QTimer* fpsTimer = nullptr;
    std::int64_t fpsLastTime = 0; // also reset by the start worker before it sets running
    std::uint64_t fpsLastCount = 0;
    enum class Lifecycle { Constructed, Initialized, ShutDown } lifecycle = Lifecycle::Constructed;
    QString ringName;           // the ring connected at initialize
    bool ringConnected = false; // what connect() answered
    bool startPending = false;  // a start worker runs and has not answered yet
    bool stopPending = false;   // a stop worker runs and has not answered yet
    bool startQueued = false;   // a start asked for while one of them was pending
    QString sessionSource;      // the source the pending or running session was started with

    RAIIThread frameThread;
    RAIIThread startThread;
    RAIIThread stopThread;
    // Start worker only (the open hold-off).
    QString lastFailedSource;
    std::int64_t lastFailedTime = 0;

    friend struct KorvanePluginProbe; // white-box access for the tests
};

} // namespace Vardel
