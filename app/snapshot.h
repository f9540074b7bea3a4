#pragma once

#include "host/ring/frame_slot.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <vector>

namespace Vardel {

// A view of a packed BGR frame as an image, without converting or copying its pixels.
inline QImage bgrImage(const FrameSlot& header, const std::vector<std::uint8_t>& pixels)
{
    if (header.pixelFormat != PixelFormatBgr24 || pixels.size() < std::size_t(header.dataSize))
        return {};
    return QImage(pixels.data(), int(header.width), int(header.height), int(header.stride), QImage::Format_BGR888);
}

inline bool saveSnapshot(const QString& file, const FrameSlot& header, const std::vector<std::uint8_t>& pixels)
{
    const QImage image = bgrImage(header, pixels);
    return !image.isNull() && image.save(file, "PNG");
}

} // namespace Vardel
