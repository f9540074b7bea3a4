#pragma once

#include "host/vardelcore_export.h"

#include <QSettings>
#include <QString>
#include <QTimer>
#include <QVariant>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <stop_token>
#include <thread>

namespace Vardel {

// Per-plug-in settings on an INI file; each plug-in's keys live in a group named after it.
// Used from the thread that made it, which only ever touches memory: the file is read and
// written by a thread of the store's own, so that a slow disk or a save held up by another
// program's lock never stalls the caller (the host's user-interface thread). Changes go to
// disk once per burst, handed over on the next turn of the caller's event loop (at once
// where it has none); flush() and the destructor return once every change is written.
// Always atomically, through a temporary file. A value read back is the one last set. A
// file that cannot be read or written, or is damaged, is reported once through the log.
class VARDELCORE_EXPORT SettingsManager {
public:
    // Returns once the file has been read.
    explicit SettingsManager(const QString& iniFile);
    ~SettingsManager();
    SettingsManager(const SettingsManager&) = delete;
    SettingsManager& operator=(const SettingsManager&) = delete;

    QVariant getPluginValue(const QString& pluginName, const QString& key, const QVariant& defaultValue) const;
    void setPluginValue(const QString& pluginName, const QString& key, const QVariant& value);
    // Writes the changes not written yet, and waits until they are.
    void flush();

    QString fileName() const { return fileName_; }
    // The status of the last load or write; anything but NoError means the file could not be used.
    QSettings::Status status() const;

private:
    using Values = std::map<QString, QVariant>;

    // Gives the burst to the store's thread.
    void handOver();
    // The store's thread: the one QSettings on the file lives, reads and writes here only
    // (instances share a per-file cache behind a lock of Qt's own).
    void run(std::stop_token stop);

    const QString fileName_;
    // The caller's: the file as read, with every change since (the store's thread fills it
    // before it sets loaded_), and the changes of the current burst.
    Values values_;
    Values burst_;
    QTimer handOverTimer_; // single shot, zero interval: the next turn of the event loop

    // Everything below is shared with the store's thread, under mutex_: the hand-over of a
    // burst and the answer that it is on disk are ordered by it.
    mutable std::mutex mutex_;
    std::condition_variable_any wake_;
    bool loaded_ = false;
    Values unsaved_;                 // handed over, not yet written
    std::uint64_t handedOver_ = 0;   // bursts handed over
    std::uint64_t saved_ = 0;        // of those, written (or tried)
    QSettings::Status status_ = QSettings::NoError;

    std::jthread thread_; // last: started once the rest is there, stopped and joined first
};

} // namespace Vardel
