#pragma once

// Drives a control panel the way a user does: its controls found the way the host finds
// them, the button clicked with the mouse, and its state read from what it shows.

#include "app/panel_controls.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace Vardel::testing {

struct PanelDriver : PanelControls {
    using PanelControls::PanelControls;

    void click() const { QTest::mouseClick(button(), Qt::LeftButton); }

    bool choosersEnabled() const
    {
        return devices()->isEnabled() && frameRates()->isEnabled() && resolutions()->isEnabled();
    }
    // Stricter than the host's look at the button: the texts say so as well.
    bool idle() const
    {
        return button()->text() == QLatin1String("Start Capture") && !button()->isChecked() && button()->isEnabled()
            && rateLabel()->text() == QLatin1String("Write FPS: --") && choosersEnabled();
    }
    bool capturing() const
    {
        return button()->text() == QLatin1String("Stop Capture") && PanelControls::capturing()
            && rateLabel()->text().startsWith(QLatin1String("Write FPS: ")) && !devices()->isEnabled()
            && !frameRates()->isEnabled() && !resolutions()->isEnabled();
    }
};

} // namespace Vardel::testing
