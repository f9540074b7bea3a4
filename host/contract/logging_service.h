#pragma once

// What the host's core library offers a plug-in of its log.

#include <QString>

namespace Vardel {

class LoggingService {
public:
    static LoggingService* instance();
    void info(const QString& source, const QString& message);
    void warning(const QString& source, const QString& message);
    void error(const QString& source, const QString& message);

private:
    LoggingService();
};

} // namespace Vardel
