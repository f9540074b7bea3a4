#pragma once

// The controls of a video-source panel, found by what they hold, so that the host can
// drive a panel it knows only as a QWidget.

#include <QString>
#include <QVariant>

class QComboBox;
class QLabel;
class QPushButton;
class QToolButton;
class QWidget;

namespace Vardel {

class PanelControls {
public:
    explicit PanelControls(QWidget* panel);
    bool complete() const { return button_ && devices_ && frameRates_ && resolutions_ && rateLabel_; }

    QPushButton* button() const { return button_; }
    QComboBox* devices() const { return devices_; }
    QComboBox* frameRates() const { return frameRates_; }
    QComboBox* resolutions() const { return resolutions_; }
    QToolButton* refresh() const { return refresh_; }
    QLabel* rateLabel() const { return rateLabel_; }

    // Selects the entry carrying value, as a user would; false when there is none.
    static bool choose(QComboBox* box, const QVariant& value);
    static QStringList values(QComboBox* box);
    bool capturing() const;
    // The write rate the panel shows, or -1 when it shows none.
    int shownRate() const;

private:
    QPushButton* button_ = nullptr;
    QComboBox* devices_ = nullptr;
    QComboBox* frameRates_ = nullptr;
    QComboBox* resolutions_ = nullptr;
    QToolButton* refresh_ = nullptr;
    QLabel* rateLabel_ = nullptr;
};

} // namespace Vardel
