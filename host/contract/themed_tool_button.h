#pragma once

// What the host's core library offers a plug-in of its themed tool button.

#include <QToolButton>

namespace Vardel {

class ThemedToolButton : public QToolButton {
public:
    explicit ThemedToolButton(const QString& iconPath, QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;
};

} // namespace Vardel
