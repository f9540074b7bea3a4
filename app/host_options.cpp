#include "app/host_options.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <cstdio>
#include <cstring>
#include <limits>

namespace Vardel {

namespace {
// The window closes through a timer of whole milliseconds in an int.
constexpr int kMaxSeconds = std::numeric_limits<int>::max() / 1000;
} // namespace

std::optional<HostOptions> parseHostOptions(const QStringList& arguments, QString& error, bool& helpShown)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Vardel host: loads video-source plug-ins and previews their frames."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption pluginDir(QStringLiteral("plugin-dir"), QStringLiteral("Folder with the plug-ins."),
                                       QStringLiteral("dir"));
    const QCommandLineOption settings(QStringLiteral("settings"), QStringLiteral("Settings file (INI)."),
                                      QStringLiteral("file"));
    const QCommandLineOption ring(QStringLiteral("ring-name"), QStringLiteral("Name of the shared-memory video ring."),
                                  QStringLiteral("name"));
    const QCommandLineOption translations(QStringLiteral("translations"),
                                          QStringLiteral("Folder with the plug-ins' translation catalogues."),
                                          QStringLiteral("dir"));
    const QCommandLineOption headless(QStringLiteral("headless"),
                                      QStringLiteral("No window: drive the panel from the command line."));
    const QCommandLineOption source(QStringLiteral("source"), QStringLiteral("Video source to capture (headless)."),
                                    QStringLiteral("source"));
    const QCommandLineOption fps(QStringLiteral("fps"), QStringLiteral("Frame rate: 30, 60, 120 or 240 (headless)."),
                                 QStringLiteral("n"));
    const QCommandLineOption resolution(QStringLiteral("resolution"),
                                        QStringLiteral("Resolution, e.g. 1920x1080 (headless)."), QStringLiteral("wxh"));
    const QCommandLineOption seconds(QStringLiteral("seconds"),
                                     QStringLiteral("Stop after this many seconds (headless default 10)."),
                                     QStringLiteral("n"));
    const QCommandLineOption snapshot(QStringLiteral("snapshot"), QStringLiteral("Save the last frame read as PNG."),
                                      QStringLiteral("file"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Save a picture of the main window before quitting (GUI)."),
                                        QStringLiteral("file"));
    const QCommandLineOption start(QStringLiteral("start"), QStringLiteral("Press Start once the window is up (GUI)."));
    const QCommandLineOption language(QStringLiteral("language"), QStringLiteral("Panel language: en or de."),
                                      QStringLiteral("code"));
    parser.addOptions({help, pluginDir, settings, ring, translations, headless, source, fps, resolution, seconds,
                       snapshot, screenshot, start, language});

    if (!parser.parse(QStringList{QStringLiteral("vardel-host")} + arguments)) {
        error = parser.errorText();
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
        return std::nullopt;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        helpShown = true;
        return std::nullopt;
    }

    HostOptions options;
    const QString appDir = QCoreApplication::applicationDirPath();
    options.pluginDir = parser.isSet(pluginDir) ? parser.value(pluginDir) : QDir(appDir).filePath(QStringLiteral("../plugins"));
    options.translationsDir = parser.isSet(translations) ? parser.value(translations)
                                                         : QDir(appDir).filePath(QStringLiteral("../translations"));
    options.settingsFile = parser.isSet(settings)
        ? parser.value(settings)
        : QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
            + QStringLiteral("/vardel-host/settings.ini");
    options.ringName = parser.value(ring);
    options.headless = parser.isSet(headless);
    options.start = parser.isSet(start);
    if (parser.isSet(source))
        options.source = parser.value(source);
    if (parser.isSet(fps)) {
        bool ok = false;
        options.fps = parser.value(fps).toInt(&ok);
        if (!ok) {
            error = QStringLiteral("--fps needs a whole number, not '%1'").arg(parser.value(fps));
            return std::nullopt;
        }
    }
    if (parser.isSet(resolution))
        options.resolution = parser.value(resolution);
    if (parser.isSet(seconds)) {
        bool ok = false;
        const int value = parser.value(seconds).toInt(&ok);
        if (!ok || value < 1 || value > kMaxSeconds) {
            error = QStringLiteral("--seconds needs a whole number from 1 to %1, not '%2'")
                        .arg(kMaxSeconds)
                        .arg(parser.value(seconds));
            return std::nullopt;
        }
        options.seconds = value;
    }
    options.snapshot = parser.value(snapshot);
    options.screenshot = parser.value(screenshot);
    if (parser.isSet(language)) {
        options.language = parser.value(language);
        if (options.language != QLatin1String("en") && options.language != QLatin1String("de")) {
            error = QStringLiteral("--language is en or de, not '%1'").arg(options.language);
            return std::nullopt;
        }
    }
    return options;
}

bool wantsHeadless(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0)
            return true;
    }
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace Vardel
