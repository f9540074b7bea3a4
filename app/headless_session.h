#pragma once

// Headless mode: the panel driven from the command line as a user would drive it, with
// one line of figures per second.

#include "app/frame_stats.h"
#include "app/host_options.h"
#include "app/panel_controls.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace Vardel {

class PluginHost;
class RingMonitor;

class HeadlessSession : public QObject {
    Q_OBJECT
public:
    HeadlessSession(PluginHost& host, RingMonitor& monitor, HostOptions options);

    // Chooses source, rate and resolution on the panel and presses Start. On a choice
    // the panel does not offer it returns false and says why.
    bool begin(QString& error);

signals:
    void finished(int exitCode);

private:
    void onSecond(const RingStats& stats);
    void stopAndFinish();
    void finish();

    PluginHost& host_;
    RingMonitor& monitor_;
    HostOptions options_;
    PanelControls controls_{nullptr};
    int secondsRun_ = 0;
    std::uint64_t framesRead_ = 0;
    bool stopping_ = false;
    QTimer idleWait_;
    QElapsedTimer stopClock_;
};

} // namespace Vardel
