#include "app/plugin_discovery.h"

#include <QDir>
#include <QLibrary>
#include <QPluginLoader>

namespace Vardel {

PluginScan scanVideoSourcePlugins(const QString& folder)
{
    PluginScan scan;
    const QDir dir(folder);
    for (const QFileInfo& file : dir.entryInfoList(QDir::Files, QDir::Name)) {
        if (!QLibrary::isLibrary(file.fileName()))
            continue;
        // The loader resolves relative names against its own search path: always absolute.
        QPluginLoader loader(file.absoluteFilePath());
        const QJsonObject meta = loader.metaData();
        if (meta.isEmpty()) {
            scan.problems << QStringLiteral("%1: %2").arg(file.fileName(), loader.errorString());
            continue;
        }
        const QJsonObject own = meta.value(QStringLiteral("MetaData")).toObject();
        if (meta.value(QStringLiteral("IID")).toString() != QLatin1String("com.vardel.IUIPlugin")
            || own.value(QStringLiteral("type")).toString() != QLatin1String("video_source"))
            continue;
        scan.videoSources.push_back({file.absoluteFilePath(), meta.value(QStringLiteral("className")).toString(), own});
    }
    return scan;
}

} // namespace Vardel
