#include "host/settings_manager.h"

#include "host/logging_service.h"
#include "host/settings_save_lock.h"

#include <QAbstractEventDispatcher>

#include <utility>

namespace Vardel {

namespace {
QString keyOf(const QString& pluginName, const QString& key) { return pluginName + QLatin1Char('/') + key; }

// One warning in the host's log about a file that cannot be used, however often it is touched.
void reportTrouble(const QSettings& settings, bool& reported, const QString& accessMessage)
{
    // The status keeps its first error.
    const QSettings::Status status = settings.status();
    if (status == QSettings::NoError || std::exchange(reported, true))
        return;
    const QString message = status == QSettings::AccessError
        ? accessMessage
        : QStringLiteral("Settings file %1 is damaged: what cannot be read of it is lost, defaults stand in for it");
    LoggingService::instance()->warning(QStringLiteral("Settings"), message.arg(settings.fileName()));
}
} // namespace

SettingsManager::SettingsManager(const QString& iniFile)
    : fileName_(iniFile), thread_([this](std::stop_token stop) { run(std::move(stop)); })
{
    handOverTimer_.setSingleShot(true);
    handOverTimer_.setInterval(0);
    QObject::connect(&handOverTimer_, &QTimer::timeout, [this] { handOver(); });
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return loaded_; });
}

SettingsManager::~SettingsManager() { flush(); }

QVariant SettingsManager::getPluginValue(const QString& pluginName, const QString& key,
                                         const QVariant& defaultValue) const
{
    const auto found = values_.find(keyOf(pluginName, key));
    return found == values_.end() ? defaultValue : found->second;
}

void SettingsManager::setPluginValue(const QString& pluginName, const QString& key, const QVariant& value)
{
    // A save costs a file written, synced to disk and renamed: a chooser's change sets three
    // keys, and they go to disk together.
    const QString name = keyOf(pluginName, key);
    values_.insert_or_assign(name, value);
    burst_.insert_or_assign(name, value);
    if (!QAbstractEventDispatcher::instance())
        handOver();
    else if (!handOverTimer_.isActive())
        handOverTimer_.start();
}

void SettingsManager::handOver()
{
    handOverTimer_.stop();
    if (burst_.empty())
        return;
    {
        std::lock_guard lock(mutex_);
        for (auto& [key, value] : burst_)
            unsaved_.insert_or_assign(key, std::move(value));
        ++handedOver_;
    }
    burst_.clear();
    wake_.notify_all();
}

void SettingsManager::flush()
{
    handOver();
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return saved_ == handedOver_; });
}

QSettings::Status SettingsManager::status() const
{
    std::lock_guard lock(mutex_);
    return status_;
}

void SettingsManager::run(std::stop_token stop)
{
    QSettings settings(fileName_, QSettings::IniFormat);
    // Never write the file in place: a process killed during a save would leave half a file.
    settings.setAtomicSyncRequired(true);
    bool reported = false;
    // The whole file is read now: damage anywhere in it shows at once. An unreadable file
    // gives nothing, a damaged one what could still be read of it.
    Values values;
    for (const QString& key : settings.allKeys())
        values.emplace(key, settings.value(key));
    reportTrouble(settings, reported, QStringLiteral("Settings file %1 cannot be read, using defaults"));

    std::unique_lock lock(mutex_);
    values_ = std::move(values);
    status_ = settings.status();
    loaded_ = true;
    wake_.notify_all();
    // A stop ends the loop only once everything handed over is written.
    while (wake_.wait(lock, stop, [this] { return saved_ != handedOver_; })) {
        const std::uint64_t bursts = handedOver_;
        const Values changes = std::exchange(unsaved_, {});
        lock.unlock();
        for (const auto& [key, value] : changes)
            settings.setValue(key, value);
        {
            const SettingsSaveLock saveLock(fileName_);
            settings.sync();
        }
        reportTrouble(settings, reported, QStringLiteral("Settings could not be written to %1"));
        lock.lock();
        saved_ = bursts;
        status_ = settings.status();
        wake_.notify_all();
    }
}

} // namespace Vardel
