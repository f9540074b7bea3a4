#pragma once

#include "capture/capture_names.h"

#include <QString>

namespace Vardel::names {

inline const QString pluginId = QStringLiteral("korvane");
inline const QString displayName = QStringLiteral("Korvane");
inline const QString version = QStringLiteral("1.0.0");
// The same text as the log source, not the plug-in id.
inline const QString settingsGroup = QStringLiteral("Korvane");

inline const QString keyVideoSource = QStringLiteral("videoSource");
inline const QString keyCaptureFrameRate = QStringLiteral("captureFrameRate");
inline const QString keyCaptureResolution = QStringLiteral("captureResolution");

} // namespace Vardel::names
