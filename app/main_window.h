#pragma once

#include "app/frame_stats.h"
#include "app/host_options.h"
#include "host/logging_service.h"

#include <QMainWindow>

#include <memory>

class QActionGroup;
class QLabel;
class QPlainTextEdit;
class QTranslator;

namespace Vardel {

class PluginHost;
class PreviewWidget;
class RingMonitor;

// The host's window: the plug-in's panel beside a live preview of the ring, the log
// below, figures in the status bar and a language menu.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(PluginHost& host, RingMonitor& monitor, const HostOptions& options, QTranslator* german);
    ~MainWindow() override;

    void setGerman(bool german);
    bool saveScreenshot(const QString& file);

private:
    void showStats(const RingStats& stats);
    void saveSnapshotAs();

    PluginHost& host_;
    RingMonitor& monitor_;
    QTranslator* german_;
    bool germanInstalled_ = false;
    PreviewWidget* preview_ = nullptr;
    QPlainTextEdit* logView_ = nullptr;
    QLabel* status_ = nullptr;
    std::unique_ptr<LogSubscription> logSubscription_;
};

} // namespace Vardel
