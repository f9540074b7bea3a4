#include "host/settings_manager.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace Vardel {

namespace {
// A lock file is written in the same moment it is created; one that is still empty a
// second later belongs to a process that died in between.
constexpr qint64 kAbandonedLockAgeMs = 1000;
} // namespace

SettingsManager::SettingsManager(const QString& iniFile)
    : settings_(iniFile, QSettings::IniFormat)
{
    // Never write the file in place: a process killed during a save would leave half a file.
    settings_.setAtomicSyncRequired(true);
}

QVariant SettingsManager::getPluginValue(const QString& pluginName, const QString& key,
                                         const QVariant& defaultValue) const
{
    return settings_.value(pluginName + QLatin1Char('/') + key, defaultValue);
}

void SettingsManager::setPluginValue(const QString& pluginName, const QString& key, const QVariant& value)
{
    settings_.setValue(pluginName + QLatin1Char('/') + key, value);
    removeAbandonedLock();
    settings_.sync();
}

void SettingsManager::removeAbandonedLock() const
{
    // QSettings guards each write with the lock file "<file>.lock". A process killed
    // between creating it and writing its owner into it leaves an empty one, which
    // QSettings only treats as stale after 30 seconds, blocking this (user-interface)
    // thread that long. A lock with an owner is left to QSettings, which checks that
    // the owner still runs.
    const QFileInfo lock(settings_.fileName() + QStringLiteral(".lock"));
    if (lock.exists() && lock.size() == 0
        && lock.lastModified().msecsTo(QDateTime::currentDateTime()) > kAbandonedLockAgeMs)
        QFile::remove(lock.filePath());
}

} // namespace Vardel
