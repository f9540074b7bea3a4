#include "host/settings_manager.h"

namespace Vardel {

SettingsManager::SettingsManager(const QString& iniFile)
    : settings_(iniFile, QSettings::IniFormat)
{
}

QVariant SettingsManager::getPluginValue(const QString& pluginName, const QString& key,
                                         const QVariant& defaultValue) const
{
    return settings_.value(pluginName + QLatin1Char('/') + key, defaultValue);
}

void SettingsManager::setPluginValue(const QString& pluginName, const QString& key, const QVariant& value)
{
    settings_.setValue(pluginName + QLatin1Char('/') + key, value);
    settings_.sync();
}

} // namespace Vardel
