#pragma once

// Holds one loaded UI plug-in the way the host does: settings store, initialise, panel,
// and at the end shutdown followed by the destruction of the plug-in object.

#include <QPointer>
#include <QString>

#include <memory>

class QWidget;
class QPluginLoader;

namespace Vardel {

class IUIPlugin;
class SettingsManager;

class PluginHost {
public:
    PluginHost();
    ~PluginHost();

    // Loads the library, sets the settings store and initialises the plug-in.
    bool load(const QString& libraryPath, const QString& settingsFile, QString& error);
    IUIPlugin* plugin() const { return plugin_; }
    QWidget* panel();
    void retranslate();
    void shutdown();

private:
    std::unique_ptr<QPluginLoader> loader_;
    std::unique_ptr<SettingsManager> settings_;
    QPointer<QObject> object_;
    IUIPlugin* plugin_ = nullptr;
};

} // namespace Vardel
