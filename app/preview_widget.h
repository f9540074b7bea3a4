#pragma once

#include "host/ring/frame_slot.h"

#include <QWidget>

#include <cstdint>
#include <vector>

namespace Vardel {

class RingMonitor;

// Shows the newest frame the host's reader holds, scaled to fit.
class PreviewWidget : public QWidget {
    Q_OBJECT
public:
    explicit PreviewWidget(RingMonitor& monitor, QWidget* parent = nullptr);

    // Time from the shown frame's timestamp to its painting, in milliseconds.
    double displayLatencyMs() const { return displayLatencyMs_; }
    QSize sizeHint() const override { return {640, 360}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    RingMonitor& monitor_;
    FrameSlot header_;
    std::vector<std::uint8_t> pixels_;
    double displayLatencyMs_ = 0.0;
};

} // namespace Vardel
