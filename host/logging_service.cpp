#include "host/logging_service.h"

#include <cstdio>

namespace Vardel {

LoggingService* LoggingService::instance()
{
    static LoggingService service;
    return &service;
}

void LoggingService::info(const QString& source, const QString& message) { log(Level::Info, source, message); }
void LoggingService::warning(const QString& source, const QString& message) { log(Level::Warning, source, message); }
void LoggingService::error(const QString& source, const QString& message) { log(Level::Error, source, message); }

int LoggingService::subscribe(Subscriber subscriber)
{
    std::lock_guard lock(mutex_);
    subscribers_.emplace_back(nextId_, std::move(subscriber));
    return nextId_++;
}

void LoggingService::unsubscribe(int id)
{
    std::lock_guard lock(mutex_);
    std::erase_if(subscribers_, [id](const auto& entry) { return entry.first == id; });
}

void LoggingService::setEchoToStandardError(bool echo)
{
    std::lock_guard lock(mutex_);
    echo_ = echo;
}

QString LoggingService::levelName(Level level)
{
    switch (level) {
    case Level::Info:
        return QStringLiteral("info");
    case Level::Warning:
        return QStringLiteral("warning");
    case Level::Error:
        return QStringLiteral("error");
    }
    return {};
}

QString LoggingService::format(const Entry& entry)
{
    return QStringLiteral("%1 [%2] %3: %4")
        .arg(entry.time.toString(Qt::ISODateWithMs), levelName(entry.level), entry.source, entry.message);
}

void LoggingService::log(Level level, const QString& source, const QString& message)
{
    const Entry entry{QDateTime::currentDateTime(), level, source, message};
    std::lock_guard lock(mutex_);
    if (echo_) {
        const QByteArray line = format(entry).toUtf8();
        std::fprintf(stderr, "%s\n", line.constData());
    }
    for (const auto& [id, subscriber] : subscribers_)
        subscriber(entry);
}

LogSubscription::LogSubscription(LoggingService::Subscriber subscriber)
    : id_(LoggingService::instance()->subscribe(std::move(subscriber)))
{
}

LogSubscription::~LogSubscription() { LoggingService::instance()->unsubscribe(id_); }

} // namespace Vardel
