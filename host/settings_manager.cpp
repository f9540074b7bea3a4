#include "host/settings_manager.h"

#include "host/logging_service.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <utility>

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
    QVariant value = settings_.value(pluginName + QLatin1Char('/') + key, defaultValue);
    // An unreadable file gave the default, a damaged one what could still be read of it.
    reportTrouble(QStringLiteral("Settings file %1 cannot be read, using defaults"));
    return value;
}

void SettingsManager::setPluginValue(const QString& pluginName, const QString& key, const QVariant& value)
{
    settings_.setValue(pluginName + QLatin1Char('/') + key, value);
    removeAbandonedLock();
    settings_.sync();
    reportTrouble(QStringLiteral("Settings could not be written to %1"));
}

void SettingsManager::reportTrouble(const QString& accessMessage) const
{
    // The status keeps its first error. Damage outside the group read first only shows
    // once the whole file is read, at the first write, which drops what cannot be read.
    const QSettings::Status status = settings_.status();
    if (status == QSettings::NoError || std::exchange(troubleReported_, true))
        return;
    const QString message = status == QSettings::AccessError
        ? accessMessage
        : QStringLiteral("Settings file %1 is damaged: what cannot be read of it is lost, defaults stand in for it");
    LoggingService::instance()->warning(QStringLiteral("Settings"), message.arg(settings_.fileName()));
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
