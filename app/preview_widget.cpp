#include "app/preview_widget.h"

#include "app/ring_monitor.h"
#include "app/snapshot.h"
#include "capture/steady_clock.h"

#include <QPainter>

namespace Vardel {

PreviewWidget::PreviewWidget(RingMonitor& monitor, QWidget* parent) : QWidget(parent), monitor_(monitor)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(&monitor_, &RingMonitor::frameArrived, this, qOverload<>(&QWidget::update));
}

void PreviewWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!monitor_.latestFrame(header_, pixels_)) {
        painter.setPen(Qt::gray);
        painter.drawText(rect(), Qt::AlignCenter, tr("No frames yet"));
        return;
    }
    // The frame is drawn straight from its BGR bytes; Qt scales it into the backing store.
    const QImage image = bgrImage(header_, pixels_);
    QSize target = image.size().scaled(size(), Qt::KeepAspectRatio);
    QRect area(QPoint(0, 0), target);
    area.moveCenter(rect().center());
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(area, image);
    displayLatencyMs_ = double(steadyNowNs() - header_.timestampNs) / 1e6;
}

} // namespace Vardel
