// Saves the plug-in's settings in a loop until it is killed, for the settings tests.
//   settings_saver INI   prints "ready" once the first save is on disk, then saves forever:
//                        save n writes the source "n: Cam", the rate n and the resolution "nxn".

#include "host/settings_manager.h"
#include "plugin/korvane_plugin.h"

#include <QCoreApplication>

#include <cstdio>

using namespace Vardel;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: settings_saver INI\n");
        return 64;
    }
    SettingsManager settings(QString::fromLocal8Bit(argv[1]));
    KorvanePlugin plugin;
    plugin.setSettingsManager(&settings);
    // Through the plug-in's own slots: each change writes all three keys.
    for (long n = 1;; ++n) {
        QMetaObject::invokeMethod(&plugin, "onCaptureFrameRateChanged", Q_ARG(int, int(n % 100000)));
        QMetaObject::invokeMethod(&plugin, "onCaptureResolutionChanged", Q_ARG(QString, QStringLiteral("%1x%1").arg(n)));
        QMetaObject::invokeMethod(&plugin, "onVideoSourceChanged", Q_ARG(QString, QStringLiteral("%1: Cam").arg(n)));
        if (n == 1) {
            std::printf("ready\n");
            std::fflush(stdout);
        }
    }
}
