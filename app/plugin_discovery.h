#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

namespace Vardel {

// A video-source plug-in found in a folder, known from its metadata alone.
struct PluginCandidate {
    QString path;
    QString className;
    QJsonObject metaData; // the plug-in's own block ("displayName", "type", ...)
};

struct PluginScan {
    std::vector<PluginCandidate> videoSources;
    QStringList problems; // "file: reason" for every library that could not be read
};

// Reads the metadata of every library in folder without creating any plug-in object,
// and keeps the host's UI plug-ins of type "video_source".
PluginScan scanVideoSourcePlugins(const QString& folder);

} // namespace Vardel
