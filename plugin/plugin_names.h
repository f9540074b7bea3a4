#pragma once

#include <QString>

namespace Vardel::names {

inline const QString pluginId = QStringLiteral("korvane");
inline const QString displayName = QStringLiteral("Korvane");
inline const QString version = QStringLiteral("1.0.0");
// Source of every log line and group of the plug-in's settings.
inline const QString logSource = QStringLiteral("Korvane");
inline const QString settingsGroup = QStringLiteral("Korvane");

inline const QString keyVideoSource = QStringLiteral("videoSource");
inline const QString keyCaptureFrameRate = QStringLiteral("captureFrameRate");
inline const QString keyCaptureResolution = QStringLiteral("captureResolution");

// The built-in colour-bar source, always first in the device list.
inline const QString testSource = QStringLiteral("-1: Video Test");
inline const QString testSourcePrefix = QStringLiteral("-1:");

} // namespace Vardel::names
