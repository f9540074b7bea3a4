#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <functional>

namespace Vardel::testing {

// While it lives, hands every application-modal dialog to a callback and then closes it
// (with OK where there is one). A dialog nobody expected therefore fails the test through
// seen() instead of hanging it in the dialog's event loop.
class ModalWatcher {
public:
    explicit ModalWatcher(std::function<void(QWidget*)> onSeen = {}) : onSeen_(std::move(onSeen))
    {
        timer_.callOnTimeout([this] { poll(); });
        timer_.start(10);
    }

    int seen() const { return seen_; }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        ++seen_;
        if (onSeen_)
            onSeen_(modal);
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box && box->button(QMessageBox::Ok))
            box->button(QMessageBox::Ok)->click();
        else
            modal->close();
    }

    std::function<void(QWidget*)> onSeen_;
    QTimer timer_;
    int seen_ = 0;
};

} // namespace Vardel::testing
