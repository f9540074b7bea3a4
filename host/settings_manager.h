#pragma once

#include "host/vardelcore_export.h"

#include <QSettings>
#include <QString>
#include <QVariant>

namespace Vardel {

// Per-plug-in settings on an INI file; each plug-in's keys live in a group named after it.
// Every change is written to disk at once (atomically, through a temporary file). A file
// that cannot be read or written, or is damaged, is reported once through the log.
class VARDELCORE_EXPORT SettingsManager {
public:
    explicit SettingsManager(const QString& iniFile);

    QVariant getPluginValue(const QString& pluginName, const QString& key, const QVariant& defaultValue) const;
    void setPluginValue(const QString& pluginName, const QString& key, const QVariant& value);

    QString fileName() const { return settings_.fileName(); }
    // The status of the last load or write; anything but NoError means the file could not be used.
    QSettings::Status status() const { return settings_.status(); }

private:
    void removeAbandonedLock() const;
    // One warning in the host's log about a file that cannot be used, however often it is touched.
    void reportTrouble(const QString& accessMessage) const;

    mutable QSettings settings_;
    mutable bool troubleReported_ = false;
};

} // namespace Vardel
