#include "app/panel_controls.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolButton>
#include <QWidget>

namespace Vardel {

PanelControls::PanelControls(QWidget* panel)
{
    if (!panel)
        return;
    button_ = panel->findChild<QPushButton*>();
    refresh_ = panel->findChild<QToolButton*>();
    if (button_ && button_->parentWidget())
        rateLabel_ = button_->parentWidget()->findChild<QLabel*>();
    for (QComboBox* box : panel->findChildren<QComboBox*>()) {
        const QVariant first = box->itemData(0);
        if (first.typeId() == QMetaType::Int)
            frameRates_ = box;
        else if (first.toString().contains(QLatin1Char('x')) && !first.toString().contains(QLatin1Char(':')))
            resolutions_ = box;
        else
            devices_ = box;
    }
}

bool PanelControls::choose(QComboBox* box, const QVariant& value)
{
    const int index = box->findData(value);
    if (index < 0)
        return false;
    box->setCurrentIndex(index);
    return true;
}

QStringList PanelControls::values(QComboBox* box)
{
    QStringList result;
    for (int i = 0; i < box->count(); ++i)
        result << box->itemData(i).toString();
    return result;
}

bool PanelControls::capturing() const { return button_->isChecked() && button_->isEnabled(); }

int PanelControls::shownRate() const
{
    // The number is the only digits in the label, whatever the language.
    static const QRegularExpression number(QStringLiteral("(\\d+)"));
    const auto match = number.match(rateLabel_->text());
    return capturing() && match.hasMatch() ? match.captured(1).toInt() : -1;
}

} // namespace Vardel
