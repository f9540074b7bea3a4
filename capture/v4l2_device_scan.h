#pragma once

// The Linux device list: /dev/videoN nodes whose driver can capture video.

#include <QString>
#include <QStringList>

#include <functional>
#include <linux/videodev2.h>
#include <optional>

namespace Vardel::v4l2 {

// Asks a device node what it is (VIDIOC_QUERYCAP); nothing when it cannot be opened or queried.
using NodeQuery = std::function<std::optional<v4l2_capability>(const QString& path)>;

// "N: card" for every videoN node in folder that OpenCV's V4L2 back end can capture
// from, in ascending N.
QStringList deviceEntries(const QString& folder, const NodeQuery& query);

// The real query: open the node and ask it.
std::optional<v4l2_capability> queryNode(const QString& path);

} // namespace Vardel::v4l2
