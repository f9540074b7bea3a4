#pragma once

#include "host/vardelcore_export.h"

#include <QSettings>
#include <QString>
#include <QTimer>
#include <QVariant>

namespace Vardel {

// Per-plug-in settings on an INI file; each plug-in's keys live in a group named after it.
// Used from the thread that made it. Changes are written to disk once per burst, on the next
// turn of that thread's event loop (at once where it has none), at flush() and when the store
// goes; always atomically, through a temporary file. A value read back before then is the
// changed one. A file that cannot be read or written, or is damaged, is reported once
// through the log.
class VARDELCORE_EXPORT SettingsManager {
public:
    explicit SettingsManager(const QString& iniFile);
    ~SettingsManager();
    SettingsManager(const SettingsManager&) = delete;
    SettingsManager& operator=(const SettingsManager&) = delete;

    QVariant getPluginValue(const QString& pluginName, const QString& key, const QVariant& defaultValue) const;
    void setPluginValue(const QString& pluginName, const QString& key, const QVariant& value);
    // Writes the changes not written yet now.
    void flush();

    QString fileName() const { return settings_.fileName(); }
    // The status of the last load or write; anything but NoError means the file could not be used.
    QSettings::Status status() const { return settings_.status(); }

private:
    // One warning in the host's log about a file that cannot be used, however often it is touched.
    void reportTrouble(const QString& accessMessage) const;

    mutable QSettings settings_;
    mutable bool troubleReported_ = false;
    bool pending_ = false;
    QTimer flushTimer_; // single shot, zero interval: the next turn of the event loop
};

} // namespace Vardel
