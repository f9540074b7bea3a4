#pragma once

// A plug-in's surroundings for a test: its own ring name, a settings file of its own.

#include "helpers/unique_names.h"
#include "host/settings_manager.h"
#include "host/shared_memory_manager.h"

#include <QSettings>
#include <QTemporaryDir>

#include <memory>

namespace Vardel::testing {

struct PluginEnvironment {
    QTemporaryDir folder;
    QString iniPath = folder.filePath(QStringLiteral("settings.ini"));
    std::string ringName;
    std::unique_ptr<SettingsManager> settings;

    QString previousRing = SharedMemoryManager::instance().getVideoRingBufferName();

    explicit PluginEnvironment(const char* what = "plugin") : ringName(uniqueRingName(what))
    {
        SharedMemoryManager::instance().setVideoRingBufferName(QString::fromStdString(ringName));
        settings = std::make_unique<SettingsManager>(iniPath);
    }
    ~PluginEnvironment() { SharedMemoryManager::instance().setVideoRingBufferName(previousRing); }

    // What is on disk right now, read by an independent reader.
    QVariant stored(const QString& key) const
    {
        QSettings file(iniPath, QSettings::IniFormat);
        return file.value(QStringLiteral("Korvane/") + key);
    }
    void store(const QString& key, const QVariant& value) const
    {
        QSettings file(iniPath, QSettings::IniFormat);
        file.setValue(QStringLiteral("Korvane/") + key, value);
    }
};

} // namespace Vardel::testing
