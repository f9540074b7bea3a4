#include "host/settings_manager.h"

#include "host/logging_service.h"
#include "host/settings_save_lock.h"

#include <QAbstractEventDispatcher>

#include <utility>

namespace Vardel {

SettingsManager::SettingsManager(const QString& iniFile)
    : settings_(iniFile, QSettings::IniFormat)
{
    // Never write the file in place: a process killed during a save would leave half a file.
    settings_.setAtomicSyncRequired(true);
    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(0);
    QObject::connect(&flushTimer_, &QTimer::timeout, [this] { flush(); });
}

SettingsManager::~SettingsManager() { flush(); }

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
    // A save costs a file written, synced to disk and renamed: a chooser's change sets three
    // keys, and they go to disk together.
    settings_.setValue(pluginName + QLatin1Char('/') + key, value);
    pending_ = true;
    if (!QAbstractEventDispatcher::instance())
        flush();
    else if (!flushTimer_.isActive())
        flushTimer_.start();
}

void SettingsManager::flush()
{
    flushTimer_.stop();
    if (!std::exchange(pending_, false))
        return;
    const SettingsSaveLock lock(settings_.fileName());
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

} // namespace Vardel
