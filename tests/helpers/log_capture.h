#pragma once

#include "host/logging_service.h"

#include <QString>
#include <QStringList>

#include <mutex>

namespace Vardel::testing {

// A line of the plug-in's log as LogCapture::lines() holds it.
inline QString korvaneLine(const char* level, const QString& message)
{
    return QLatin1String(level) + QLatin1String(" Korvane: ") + message;
}

// Collects the log lines written while it lives (from any thread).
class LogCapture {
public:
    LogCapture()
        : subscription_([this](const LoggingService::Entry& entry) {
              std::lock_guard lock(mutex_);
              lines_ << LoggingService::levelName(entry.level) + QLatin1Char(' ') + entry.source + QLatin1String(": ")
                      + entry.message;
          })
    {
    }

    // "level source: message" for every line so far.
    QStringList lines() const
    {
        // A list of its own: a shared one would be detached by the next append on the
        // logging thread while this thread still holds it.
        std::lock_guard lock(mutex_);
        return QStringList(lines_.cbegin(), lines_.cend());
    }
    int count(const QString& line) const { return int(lines().count(line)); }

private:
    mutable std::mutex mutex_;
    QStringList lines_;
    LogSubscription subscription_;
};

} // namespace Vardel::testing
