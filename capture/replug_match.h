#pragma once

// A stored source after the device list changed: DirectShow numbers devices in the order
// it finds them, so a camera added or plugged in again can come back under another index.

#include <QString>
#include <QStringList>

#include <optional>

namespace Vardel {

// The listed entry that stands for stored ("index: name") when stored itself is not
// listed: the one device entry with the same name. Nothing when stored is listed, when no
// entry or more than one has its name, or when the name is empty. The test source neither
// moves nor is taken for a device.
std::optional<QString> replugMatch(const QString& stored, const QStringList& listed);

} // namespace Vardel
