#include "app/main_window.h"

#include "app/plugin_host.h"
#include "app/preview_widget.h"
#include "app/ring_monitor.h"
#include "app/snapshot.h"

#include <QActionGroup>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QTranslator>

namespace Vardel {

MainWindow::MainWindow(PluginHost& host, RingMonitor& monitor, const HostOptions& options, QTranslator* german)
    : host_(host), monitor_(monitor), german_(german)
{
    setWindowTitle(tr("Vardel host"));
    auto* top = new QSplitter(Qt::Horizontal);
    if (QWidget* panel = host_.panel())
        top->addWidget(panel); // the window owns the panel from here on
    preview_ = new PreviewWidget(monitor_);
    top->addWidget(preview_);
    top->setStretchFactor(1, 1);

    logView_ = new QPlainTextEdit;
    logView_->setReadOnly(true);
    logView_->setMaximumBlockCount(2000);
    auto* vertical = new QSplitter(Qt::Vertical);
    vertical->addWidget(top);
    vertical->addWidget(logView_);
    vertical->setStretchFactor(0, 1);
    setCentralWidget(vertical);

    status_ = new QLabel(tr("Waiting for the video ring..."));
    statusBar()->addWidget(status_, 1);

    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("Save &snapshot..."), this, &MainWindow::saveSnapshotAs);
    file->addAction(tr("&Quit"), this, &QWidget::close);
    QMenu* language = menuBar()->addMenu(tr("&Language"));
    auto* languages = new QActionGroup(this);
    QAction* english = language->addAction(QStringLiteral("English"), this, [this] { setGerman(false); });
    QAction* deutsch = language->addAction(QStringLiteral("Deutsch"), this, [this] { setGerman(true); });
    for (QAction* action : {english, deutsch}) {
        action->setCheckable(true);
        languages->addAction(action);
    }
    (options.language == QLatin1String("de") ? deutsch : english)->setChecked(true);
    deutsch->setEnabled(german_ != nullptr);

    connect(&monitor_, &RingMonitor::secondElapsed, this, &MainWindow::showStats);
    // Log lines arrive on whichever thread logged them.
    logSubscription_ = std::make_unique<LogSubscription>([this](const LoggingService::Entry& entry) {
        const QString line = LoggingService::format(entry);
        QMetaObject::invokeMethod(this, [this, line] { logView_->appendPlainText(line); }, Qt::QueuedConnection);
    });
    resize(1100, 700);
}

MainWindow::~MainWindow() { logSubscription_.reset(); }

void MainWindow::setGerman(bool german)
{
    if (!german_ || german == germanInstalled_)
        return;
    if (german)
        QCoreApplication::installTranslator(german_);
    else
        QCoreApplication::removeTranslator(german_);
    germanInstalled_ = german;
    host_.retranslate();
}

void MainWindow::showStats(const RingStats& stats)
{
    if (!stats.attached) {
        status_->setText(tr("Waiting for the video ring..."));
        return;
    }
    status_->setText(tr("Read %1 fps | latency p50 %2 ms, p99 %3 ms | display %4 ms | skipped %5 | torn %6%7")
                         .arg(double(stats.framesRead) / std::max(stats.seconds, 1e-3), 0, 'f', 1)
                         .arg(stats.latencyP50Ms, 0, 'f', 2)
                         .arg(stats.latencyP99Ms, 0, 'f', 2)
                         .arg(preview_->displayLatencyMs(), 0, 'f', 1)
                         .arg(stats.skipped)
                         .arg(stats.torn)
                         .arg(stats.captureActive ? QString() : tr(" | ring idle")));
}

void MainWindow::saveSnapshotAs()
{
    FrameSlot header;
    std::vector<std::uint8_t> pixels;
    if (!monitor_.latestFrame(header, pixels)) {
        statusBar()->showMessage(tr("No frame to save yet"), 3000);
        return;
    }
    const QString file = QFileDialog::getSaveFileName(this, tr("Save snapshot"), QStringLiteral("snapshot.png"),
                                                      tr("PNG images (*.png)"));
    if (!file.isEmpty() && !saveSnapshot(file, header, pixels))
        statusBar()->showMessage(tr("Could not save %1").arg(file), 5000);
}

bool MainWindow::saveScreenshot(const QString& file) { return grab().save(file, "PNG"); }

} // namespace Vardel
