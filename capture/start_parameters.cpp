#include "capture/start_parameters.h"

#include "capture/capture_names.h"

#include <QStringList>

namespace Vardel {

namespace {
constexpr int kBarCount = 8;
// The test pattern's waits are timed in whole milliseconds where no finer timer exists
// (and one frame needs a wake-up of its own): faster than one frame per millisecond
// cannot be paced, only drawn back to back on a core.
constexpr int kMaxTestPatternRate = 1000;
} // namespace

std::optional<Resolution> parseResolution(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('x'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    if (parts.size() != 2)
        return std::nullopt;
    return Resolution{parts[0].toInt(), parts[1].toInt()};
}

bool isTestSource(const QString& source) { return source.startsWith(names::testSourcePrefix, Qt::CaseSensitive); }

int deviceIndexOf(const QString& source) { return source.section(QLatin1Char(':'), 0, 0).toInt(); }

std::optional<QString> captureLimitError(int width, int height, int fps, bool testPattern, std::uint64_t slotBytes)
{
    if (width <= 0 || height <= 0)
        return QStringLiteral("Invalid capture size %1x%2: width and height must be positive").arg(width).arg(height);
    const std::uint64_t frameBytes = std::uint64_t(width) * std::uint64_t(height) * 3;
    if (frameBytes > slotBytes) {
        return QStringLiteral("Capture size %1x%2 needs %3 bytes per frame, more than a ring slot holds (%4 bytes)")
            .arg(width)
            .arg(height)
            .arg(frameBytes)
            .arg(slotBytes);
    }
    if (testPattern && width < kBarCount)
        return QStringLiteral("Test pattern width %1 is below the minimum of %2").arg(width).arg(kBarCount);
    // Only the test pattern paces itself; a device sets its own rate.
    if (testPattern && fps < 1)
        return QStringLiteral("Invalid frame rate %1: at least 1 frame per second is needed").arg(fps);
    if (testPattern && fps > kMaxTestPatternRate) {
        return QStringLiteral("Invalid frame rate %1: the test source paces at most %2 frames per second, one per "
                              "millisecond of its timer")
            .arg(fps)
            .arg(kMaxTestPatternRate);
    }
    return std::nullopt;
}

} // namespace Vardel
