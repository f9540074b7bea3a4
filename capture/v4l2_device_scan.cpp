#include "capture/v4l2_device_scan.h"

#include <QDir>
#include <QRegularExpression>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <map>
#include <sys/ioctl.h>
#include <unistd.h>

namespace Vardel::v4l2 {

QStringList deviceEntries(const QString& folder, const NodeQuery& query)
{
    static const QRegularExpression nodeName(QStringLiteral("^video(0|[1-9][0-9]{0,8})$"));
    std::map<int, QString> nodes; // ordered by number: video10 comes after video2
    const QStringList files = QDir(folder).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QString& file : files) {
        const auto match = nodeName.match(file);
        if (match.hasMatch())
            nodes.emplace(match.captured(1).toInt(), folder + QLatin1Char('/') + file);
    }
    QStringList entries;
    for (const auto& [index, path] : nodes) {
        const auto info = query(path);
        if (info && info->canCapture)
            entries << QStringLiteral("%1: %2").arg(index).arg(info->card);
    }
    return entries;
}

std::optional<NodeInfo> queryNode(const QString& path)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    v4l2_capability capability{};
    const bool queried = ::ioctl(fd, VIDIOC_QUERYCAP, &capability) == 0;
    ::close(fd);
    if (!queried)
        return std::nullopt;
    // A driver with several nodes describes each one in device_caps.
    const std::uint32_t caps =
        (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps : capability.capabilities;
    NodeInfo info;
    // OpenCV's V4L2 back end captures single-planar video only: a node that offers only the
    // multi-planar interface could be listed but never opened.
    info.canCapture = caps & V4L2_CAP_VIDEO_CAPTURE;
    const auto* card = reinterpret_cast<const char*>(capability.card);
    info.card = QString::fromUtf8(card, qsizetype(strnlen(card, sizeof capability.card)));
    return info;
}

} // namespace Vardel::v4l2
