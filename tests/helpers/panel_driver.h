#pragma once

// Drives a control panel the way a user does, finding its controls by what they hold.

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QWidget>

namespace Vardel::testing {

struct PanelDriver {
    QWidget* panel;

    QPushButton* button() const { return panel->findChild<QPushButton*>(); }
    QLabel* rateLabel() const
    {
        // The label that shares the control group with the start/stop button.
        return button()->parentWidget()->findChild<QLabel*>();
    }
    QComboBox* combo(int which) const // 0 device, 1 frame rate, 2 resolution
    {
        for (QComboBox* box : panel->findChildren<QComboBox*>()) {
            const QVariant first = box->itemData(0);
            const int kind = first.typeId() == QMetaType::Int ? 1
                : first.toString() == QLatin1String("2560x1440")  ? 2
                                                                  : 0;
            if (kind == which)
                return box;
        }
        return nullptr;
    }
    QComboBox* devices() const { return combo(0); }
    QComboBox* frameRates() const { return combo(1); }
    QComboBox* resolutions() const { return combo(2); }

    void click() const { QTest::mouseClick(button(), Qt::LeftButton); }
    // Picks the entry carrying value, as a user picking it from the list would.
    bool choose(QComboBox* box, const QVariant& value) const
    {
        const int index = box->findData(value);
        if (index < 0)
            return false;
        box->setCurrentIndex(index);
        return true;
    }

    bool idle() const
    {
        return button()->text() == QLatin1String("Start Capture") && !button()->isChecked() && button()->isEnabled()
            && rateLabel()->text() == QLatin1String("Write FPS: --") && choosersEnabled();
    }
    bool capturing() const
    {
        return button()->text() == QLatin1String("Stop Capture") && button()->isChecked() && button()->isEnabled()
            && rateLabel()->text().startsWith(QLatin1String("Write FPS: ")) && !devices()->isEnabled()
            && !frameRates()->isEnabled() && !resolutions()->isEnabled();
    }
    bool choosersEnabled() const
    {
        return devices()->isEnabled() && frameRates()->isEnabled() && resolutions()->isEnabled();
    }
    // The rate the panel shows, or -1 while it shows none.
    int shownRate() const
    {
        static const QRegularExpression number(QStringLiteral("^Write FPS: (\\d+)$"));
        const auto match = number.match(rateLabel()->text());
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    }
};

} // namespace Vardel::testing
