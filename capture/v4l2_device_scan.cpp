#include "capture/v4l2_device_scan.h"

#include "capture/file_descriptor.h"

#include <QDir>
#include <QRegularExpression>

#include <fcntl.h>
#include <cstring>
#include <map>
#include <sys/ioctl.h>

namespace Vardel::v4l2 {

namespace {

// OpenCV's V4L2 back end captures single-planar video only: a node that offers only the
// multi-planar interface (or metadata, or output) could be listed but never opened.
bool canCapture(const v4l2_capability& capability)
{
    // A driver with several nodes describes each one in device_caps.
    const std::uint32_t caps =
        (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps : capability.capabilities;
    return caps & V4L2_CAP_VIDEO_CAPTURE;
}

QString cardOf(const v4l2_capability& capability)
{
    const auto* card = reinterpret_cast<const char*>(capability.card);
    return QString::fromUtf8(card, qsizetype(strnlen(card, sizeof capability.card)));
}

} // namespace

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
        const auto capability = query(path);
        if (capability && canCapture(*capability))
            entries << QStringLiteral("%1: %2").arg(QString::number(index), cardOf(*capability));
    }
    return entries;
}

std::optional<v4l2_capability> queryNode(const QString& path)
{
    const FileDescriptor node(::open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    v4l2_capability capability{};
    if (!node || ::ioctl(node.get(), VIDIOC_QUERYCAP, &capability) != 0)
        return std::nullopt;
    return capability;
}

} // namespace Vardel::v4l2
