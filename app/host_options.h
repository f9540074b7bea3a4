#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace Vardel {

struct HostOptions {
    QString pluginDir;
    QString settingsFile;
    QString ringName;
    QString translationsDir;
    QString source = QStringLiteral("-1: Video Test");
    int fps = 60;
    QString resolution = QStringLiteral("1920x1080");
    std::optional<int> seconds; // headless default 10; GUI runs until closed
    QString snapshot;
    QString screenshot;
    QString language = QStringLiteral("en");
    bool headless = false;
    bool start = false;
};

// Parses the command line (without the program name); on a bad argument returns
// nothing and says why in error. defaults fills what the user left out.
std::optional<HostOptions> parseHostOptions(const QStringList& arguments, QString& error, bool& helpShown);

// True when the arguments ask for headless mode or no display is available.
bool wantsHeadless(int argc, char** argv);

} // namespace Vardel
