#pragma once

// The Linux device list: /dev/videoN nodes whose driver can capture video.

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace Vardel::v4l2 {

struct NodeInfo {
    bool canCapture = false;
    QString card; // the driver's name for the device
};

// Asks a device node what it is; nothing when it cannot be opened or queried.
using NodeQuery = std::function<std::optional<NodeInfo>(const QString& path)>;

// "N: card" for every capture-capable videoN node in folder, in ascending N.
QStringList deviceEntries(const QString& folder, const NodeQuery& query);

// The real query: open the node and ask VIDIOC_QUERYCAP.
std::optional<NodeInfo> queryNode(const QString& path);

} // namespace Vardel::v4l2
