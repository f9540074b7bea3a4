#include "app/headless_session.h"

#include "app/plugin_host.h"
#include "app/ring_monitor.h"
#include "app/snapshot.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QWidget>

#include <cstdio>

namespace Vardel {

namespace {
void say(const QString& line)
{
    std::fprintf(stdout, "%s\n", qPrintable(line));
    std::fflush(stdout);
}

// Answers a modal dialog the panel opens while a choice is made (the 1440p warning).
void answerNextDialog()
{
    QTimer::singleShot(0, [] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            say(QStringLiteral("panel: \"%1\" acknowledged").arg(dialog->windowTitle()));
            dialog->close();
        }
    });
}
} // namespace

HeadlessSession::HeadlessSession(PluginHost& host, RingMonitor& monitor, HostOptions options)
    : host_(host), monitor_(monitor), options_(std::move(options))
{
    idleWait_.setInterval(20);
    connect(&idleWait_, &QTimer::timeout, this, [this] {
        if (!controls_.capturing() || stopClock_.elapsed() > 5000)
            finish();
    });
}

bool HeadlessSession::begin(QString& error)
{
    controls_ = PanelControls(host_.panel());
    if (!controls_.complete()) {
        error = QStringLiteral("the plug-in's panel has no recognisable controls");
        return false;
    }
    if (!PanelControls::choose(controls_.devices(), options_.source)) {
        error = QStringLiteral("unknown source '%1'; available: %2")
                    .arg(options_.source, PanelControls::values(controls_.devices()).join(QStringLiteral(", ")));
        return false;
    }
    if (!PanelControls::choose(controls_.frameRates(), options_.fps)) {
        error = QStringLiteral("the panel offers no %1 fps; available: %2")
                    .arg(options_.fps)
                    .arg(PanelControls::values(controls_.frameRates()).join(QStringLiteral(", ")));
        return false;
    }
    answerNextDialog();
    if (!PanelControls::choose(controls_.resolutions(), options_.resolution)) {
        error = QStringLiteral("the panel offers no resolution %1; available: %2")
                    .arg(options_.resolution, PanelControls::values(controls_.resolutions()).join(QStringLiteral(", ")));
        return false;
    }
    say(QStringLiteral("capturing '%1' at %2 fps, %3 for %4 s")
            .arg(options_.source)
            .arg(options_.fps)
            .arg(options_.resolution)
            .arg(options_.seconds.value_or(10)));
    connect(&monitor_, &RingMonitor::secondElapsed, this, &HeadlessSession::onSecond);
    monitor_.start();
    controls_.button()->click();
    return true;
}

void HeadlessSession::onSecond(const RingStats& stats)
{
    if (stopping_)
        return;
    ++secondsRun_;
    framesRead_ += stats.framesRead;
    const int written = controls_.shownRate();
    say(QStringLiteral("[%1s] write %2 fps | read %3 frames | latency p50 %4 ms p99 %5 ms | skipped %6 | torn %7")
            .arg(secondsRun_, 3)
            .arg(written < 0 ? QStringLiteral("--") : QString::number(written))
            .arg(stats.framesRead)
            .arg(stats.latencyP50Ms, 0, 'f', 2)
            .arg(stats.latencyP99Ms, 0, 'f', 2)
            .arg(stats.skipped)
            .arg(stats.torn));
    if (secondsRun_ >= options_.seconds.value_or(10))
        stopAndFinish();
}

void HeadlessSession::stopAndFinish()
{
    stopping_ = true;
    if (controls_.capturing())
        controls_.button()->click();
    stopClock_.start();
    idleWait_.start();
}

void HeadlessSession::finish()
{
    idleWait_.stop();
    monitor_.stop();
    const std::uint64_t total = monitor_.totalFramesRead();
    if (!options_.snapshot.isEmpty()) {
        FrameSlot header;
        std::vector<std::uint8_t> pixels;
        if (monitor_.latestFrame(header, pixels) && saveSnapshot(options_.snapshot, header, pixels))
            say(QStringLiteral("snapshot of frame %1 saved to %2").arg(header.frameNumber).arg(options_.snapshot));
        else
            say(QStringLiteral("no snapshot: no frame to save to %1").arg(options_.snapshot));
    }
    say(QStringLiteral("done: %1 frames read").arg(total));
    emit finished(total > 0 ? 0 : 1);
}

} // namespace Vardel
