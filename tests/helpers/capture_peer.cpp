// The plug-in in a process of its own, capturing the test source into a ring: the host
// that the process fault tests kill, restart and disturb.
//   capture_peer RING WIDTHxHEIGHT FPS
// Prints "capturing" whenever frames flow (after the start, and after each "initialize").
// Commands on standard input, one per line: "initialize" (as a host would call it again:
// the ring is connected anew, then capture is started again), "quit".

#include "helpers/plugin_probe.h"
#include "host/shared_memory_manager.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

using namespace Vardel;
using Probe = KorvanePluginProbe;

namespace {

void startCapture(KorvanePlugin& plugin)
{
    QMetaObject::invokeMethod(&plugin, "onCaptureToggleRequested", Q_ARG(bool, true));
    // Announce the frames once they flow.
    auto* watch = new QTimer(&plugin);
    QObject::connect(watch, &QTimer::timeout, watch, [&plugin, watch] {
        if (Probe::framesWritten(plugin).load() > 0) {
            std::printf("capturing\n");
            std::fflush(stdout);
            watch->deleteLater();
        }
    });
    watch->start(5);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: capture_peer RING WIDTHxHEIGHT FPS\n");
        return 64;
    }
    SharedMemoryManager::instance().setVideoRingBufferName(QString::fromLocal8Bit(argv[1]));
    KorvanePlugin plugin;
    // No settings store: the values chosen here stand (initialize says so once).
    QMetaObject::invokeMethod(&plugin, "onCaptureResolutionChanged", Q_ARG(QString, QString::fromLocal8Bit(argv[2])));
    QMetaObject::invokeMethod(&plugin, "onCaptureFrameRateChanged", Q_ARG(int, std::atoi(argv[3])));
    plugin.initialize();
    startCapture(plugin);

    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, &plugin, [&] {
        char line[64] = {};
        const ssize_t n = ::read(STDIN_FILENO, line, sizeof line - 1);
        const QByteArray command = QByteArray(line, n > 0 ? int(n) : 0).trimmed();
        if (n <= 0 || command == "quit") {
            QCoreApplication::quit();
        } else if (command == "initialize") {
            plugin.initialize(); // ends the session first: no frame thread counts from here
            Probe::framesWritten(plugin).store(0);
            startCapture(plugin);
        }
    });
    const int result = QCoreApplication::exec();
    plugin.shutdown();
    return result;
}
