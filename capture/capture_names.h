#pragma once

#include <QString>

namespace Vardel::names {

// Source of every log line the plug-in writes.
inline const QString logSource = QStringLiteral("Korvane");

// The built-in colour-bar source, always first in the device list.
inline const QString testSource = QStringLiteral("-1: Video Test");
inline const QString testSourcePrefix = QStringLiteral("-1:");

} // namespace Vardel::names
