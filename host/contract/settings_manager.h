#pragma once

// What the host's core library offers a plug-in of its settings store.

#include <QString>
#include <QVariant>

namespace Vardel {

class SettingsManager {
public:
    QVariant getPluginValue(const QString& pluginName, const QString& key, const QVariant& defaultValue) const;
    void setPluginValue(const QString& pluginName, const QString& key, const QVariant& value);

private:
    SettingsManager();
};

} // namespace Vardel
