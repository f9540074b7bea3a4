#pragma once

#include "host/vardelcore_export.h"

#include <QToolButton>

namespace Vardel {

// A tool button whose icon is an SVG drawn in the palette's button-text colour, so that
// it follows light and dark themes. Redrawn whenever the palette or style changes.
class VARDELCORE_EXPORT ThemedToolButton : public QToolButton {
    Q_OBJECT
public:
    explicit ThemedToolButton(const QString& iconPath, QWidget* parent = nullptr);

    QString iconPath() const { return iconPath_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateIcon();

    QString iconPath_;
};

} // namespace Vardel
