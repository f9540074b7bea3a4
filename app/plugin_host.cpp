#include "app/plugin_host.h"

#include "host/plugin_interfaces.h"
#include "host/settings_manager.h"

#include <QPluginLoader>

namespace Vardel {

PluginHost::PluginHost() = default;

PluginHost::~PluginHost() { shutdown(); }

bool PluginHost::load(const QString& libraryPath, const QString& settingsFile, QString& error)
{
    loader_ = std::make_unique<QPluginLoader>(libraryPath);
    object_ = loader_->instance();
    plugin_ = qobject_cast<IUIPlugin*>(object_.data());
    if (!plugin_) {
        error = object_ ? QStringLiteral("%1 is not a UI plug-in").arg(libraryPath) : loader_->errorString();
        return false;
    }
    settings_ = std::make_unique<SettingsManager>(settingsFile);
    plugin_->setSettingsManager(settings_.get());
    plugin_->initialize();
    return true;
}

QWidget* PluginHost::panel() { return plugin_ ? plugin_->createWidget() : nullptr; }

void PluginHost::retranslate()
{
    if (plugin_)
        plugin_->retranslate();
}

void PluginHost::shutdown()
{
    if (!plugin_)
        return;
    plugin_->shutdown();
    delete object_.data();
    plugin_ = nullptr;
    // The store hands a burst of changes to its thread on the next turn of the event loop,
    // which does not come once the host is on its way out: what the plug-in changed last is
    // written now, before the host goes on.
    settings_->flush();
    // The library stays loaded: the panel, built from its code, may outlive the object.
}

} // namespace Vardel
