#pragma once

// Drives a control panel the way a user does: its controls found the way the host finds
// them, the button clicked with the mouse, and its state read from what it shows.

#include "app/panel_controls.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

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
            && !devices()->isEnabled() && !frameRates()->isEnabled() && !resolutions()->isEnabled();
    }
};

// Closes each modal dialog that comes up while it lives, after handing it to onSeen (which
// may delete it): a dialog nobody expected shows in seen instead of hanging the test.
struct ModalWatcher : QTimer {
    int seen = 0;
    explicit ModalWatcher(const std::function<void(QMessageBox*)>& onSeen)
    {
        callOnTimeout([this, onSeen] {
            if (const QPointer<QWidget> modal = QApplication::activeModalWidget(); modal && ++seen) {
                onSeen(qobject_cast<QMessageBox*>(modal));
                if (modal)
                    modal->close();
            }
        });
        start(10);
    }
};

} // namespace Vardel::testing
