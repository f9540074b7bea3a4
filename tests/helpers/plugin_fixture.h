#pragma once

// A plug-in's surroundings for a test: its own ring name, a settings file of its own;
// and a plug-in in them with its log and, once started, its panel.

#include "helpers/log_capture.h"
#include "helpers/panel_driver.h"
#include "helpers/unique_names.h"
#include "host/settings_manager.h"
#include "host/shared_memory_manager.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>

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

    // What is on disk once the store has written what it holds, read by an independent reader.
    QVariant stored(const QString& key) const
    {
        settings->flush();
        QSettings file(iniPath, QSettings::IniFormat);
        return file.value(QStringLiteral("Korvane/") + key);
    }
    // A value stored earlier: the store reads its file only when it is made, so it goes
    // through the store, and to disk.
    void store(const QString& key, const QVariant& value) const
    {
        settings->setPluginValue(QStringLiteral("Korvane"), key, value);
        settings->flush();
    }
};

template <typename Plugin>
struct PluginFixture {
    PluginEnvironment env;
    Plugin plugin;
    std::unique_ptr<QWidget> panel;
    PanelDriver ui{nullptr};
    LogCapture log;

    explicit PluginFixture(const char* what) : env(what) { plugin.setSettingsManager(env.settings.get()); }
    ~PluginFixture() { plugin.shutdown(); } // before the panel goes, as the host does

    void initializeWithPanel()
    {
        plugin.initialize();
        usePanel(plugin.createWidget());
        panel->show();
    }
    // The panel the test drives from now on, in place of the one before.
    void usePanel(QWidget* created)
    {
        panel.reset(created);
        ui = PanelDriver(created);
    }
};

} // namespace Vardel::testing
