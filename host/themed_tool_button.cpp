#include "host/themed_tool_button.h"

#include <QEvent>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace Vardel {

ThemedToolButton::ThemedToolButton(const QString& iconPath, QWidget* parent)
    : QToolButton(parent), iconPath_(iconPath)
{
    updateIcon();
}

void ThemedToolButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        updateIcon();
    QToolButton::changeEvent(event);
}

void ThemedToolButton::updateIcon()
{
    QSvgRenderer renderer(iconPath_);
    if (!renderer.isValid()) {
        setIcon(QIcon());
        return;
    }
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap(iconSize() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(iconSize())));
    // Keep the shape, take the colour from the theme.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), palette().color(QPalette::ButtonText));
    painter.end();
    setIcon(QIcon(pixmap));
}

} // namespace Vardel
