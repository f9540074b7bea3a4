// vardel-host: loads a video-source plug-in as the Vardel host does, embeds its panel
// beside a live preview of the video ring, or drives it headless from the command line.

#include "app/headless_session.h"
#include "app/host_options.h"
#include "app/main_window.h"
#include "app/panel_controls.h"
#include "app/plugin_discovery.h"
#include "app/plugin_host.h"
#include "app/ring_monitor.h"
#include "app/snapshot.h"
#include "host/shared_memory_manager.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <memory>

using namespace Vardel;

namespace {
int fail(int status, const QString& message)
{
    std::fprintf(stderr, "vardel-host: %s\n", qPrintable(message));
    return status;
}
} // namespace

int main(int argc, char** argv)
{
    const bool headless = wantsHeadless(argc, argv);
    if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vardel-host"));

    QString error;
    bool helpShown = false;
    auto options = parseHostOptions(QApplication::arguments().mid(1), error, helpShown);
    if (!options)
        return helpShown ? 0 : fail(2, error);
    options->headless = options->headless || headless;

    if (!options->ringName.isEmpty())
        SharedMemoryManager::instance().setVideoRingBufferName(options->ringName);
    const QString ringName = SharedMemoryManager::instance().getVideoRingBufferName();

    const PluginScan scan = scanVideoSourcePlugins(options->pluginDir);
    for (const QString& problem : scan.problems)
        std::fprintf(stderr, "vardel-host: cannot load plug-in %s\n", qPrintable(problem));
    if (scan.videoSources.empty())
        return fail(3, QStringLiteral("no video-source plug-in in %1").arg(QDir(options->pluginDir).absolutePath()));
    const PluginCandidate& chosen = scan.videoSources.front();
    std::printf("plug-in %s %s from %s, ring %s\n",
                qPrintable(chosen.metaData.value(QStringLiteral("displayName")).toString()),
                qPrintable(chosen.metaData.value(QStringLiteral("version")).toString()), qPrintable(chosen.path),
                qPrintable(ringName));

    QTranslator german;
    const bool haveGerman = german.load(QStringLiteral("korvane_de"), options->translationsDir);
    if (options->language == QLatin1String("de")) {
        if (!haveGerman)
            return fail(2, QStringLiteral("no German catalogue in %1").arg(options->translationsDir));
        QCoreApplication::installTranslator(&german);
    }

    QDir().mkpath(QFileInfo(options->settingsFile).absolutePath());
    PluginHost host;
    if (!host.load(chosen.path, options->settingsFile, error))
        return fail(3, error);
    RingMonitor monitor(ringName.toStdString());

    int status = 0;
    if (options->headless) {
        HeadlessSession session(host, monitor, *options);
        QObject::connect(&session, &HeadlessSession::finished, &app, &QCoreApplication::exit);
        if (!session.begin(error))
            status = fail(2, error);
        else
            status = QApplication::exec();
        monitor.stop();
        host.shutdown();
        return status;
    }

    auto window = std::make_unique<MainWindow>(host, monitor, *options, haveGerman ? &german : nullptr);
    window->show();
    monitor.start();
    if (options->start) {
        QTimer::singleShot(200, window.get(), [&host] {
            if (QPushButton* button = PanelControls(host.panel()).button())
                button->click();
        });
    }
    if (options->seconds) {
        QTimer::singleShot(*options->seconds * 1000, window.get(), [&] {
            if (!options->screenshot.isEmpty())
                window->saveScreenshot(options->screenshot);
            window->close();
        });
    }
    status = QApplication::exec();
    if (!options->snapshot.isEmpty()) {
        FrameSlot header;
        std::vector<std::uint8_t> pixels;
        if (monitor.latestFrame(header, pixels))
            saveSnapshot(options->snapshot, header, pixels);
    }
    monitor.stop();
    // The host's order: shutdown, then the plug-in object goes, then the window with the panel.
    host.shutdown();
    window.reset();
    return status;
}
