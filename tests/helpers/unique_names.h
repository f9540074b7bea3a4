#pragma once

#include <QCoreApplication>
#include <QString>

#include <atomic>
#include <string>

namespace Vardel::testing {

// A shared-memory name no other test run uses.
inline std::string uniqueRingName(const char* what)
{
    static std::atomic<int> counter{0};
    return QStringLiteral("korvane-test-%1-%2-%3")
        .arg(QCoreApplication::applicationPid())
        .arg(QLatin1String(what))
        .arg(counter++)
        .toStdString();
}

} // namespace Vardel::testing
