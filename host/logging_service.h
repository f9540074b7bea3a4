#pragma once

#include "host/vardelcore_export.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <mutex>
#include <vector>

namespace Vardel {

// The host's log. Any thread may log; each line goes to standard error and to every
// subscriber. Subscribers are called on the logging thread, under the service's lock:
// they must be quick and must not log themselves.
class VARDELCORE_EXPORT LoggingService {
public:
    enum class Level { Info, Warning, Error };
    struct Entry {
        QDateTime time;
        Level level;
        QString source;
        QString message;
    };
    using Subscriber = std::function<void(const Entry&)>;

    static LoggingService* instance();

    void info(const QString& source, const QString& message);
    void warning(const QString& source, const QString& message);
    void error(const QString& source, const QString& message);

    int subscribe(Subscriber subscriber);
    // After this returns the subscriber is never called again.
    void unsubscribe(int id);
    void setEchoToStandardError(bool echo);

    static QString levelName(Level level);
    static QString format(const Entry& entry);

private:
    LoggingService() = default;
    void log(Level level, const QString& source, const QString& message);

    std::mutex mutex_;
    std::vector<std::pair<int, Subscriber>> subscribers_;
    int nextId_ = 1;
    bool echo_ = true;
};

// Subscribes for as long as it lives.
class VARDELCORE_EXPORT LogSubscription {
public:
    explicit LogSubscription(LoggingService::Subscriber subscriber);
    ~LogSubscription();
    LogSubscription(const LogSubscription&) = delete;
    LogSubscription& operator=(const LogSubscription&) = delete;

private:
    int id_;
};

} // namespace Vardel
