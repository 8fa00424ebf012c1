// SPDX-License-Identifier: MIT
#include "capture/capture_window_toggle.h"

#include <QAction>

#include "capture/dialog_cap_view.h"

namespace kx {

CaptureWindowToggle::CaptureWindowToggle(CaptureSystem system, QObject* parent)
    : QObject(parent), system_(std::move(system)) {}

CaptureWindowToggle::~CaptureWindowToggle() {
    delete captureDlg_.data();
}

CDialogCapView* CaptureWindowToggle::Dialog() const {
    return captureDlg_;
}

void CaptureWindowToggle::Toggle() {
    // Opening may show a message box, whose event loop must not open or
    // close the window a second time.
    if (toggling_) {
        return;
    }
    toggling_ = true;
    captureShown_ = !captureShown_;
    if (captureShown_) {
        auto* dialog = new CDialogCapView(nullptr, system_);
        connect(dialog, &QDialog::finished, this, [this, dialog] { OnClosedByOperator(dialog); });
        captureDlg_ = dialog;
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
    } else {
        delete captureDlg_.data();
        captureDlg_ = nullptr;
    }
    toggling_ = false;
    emit shownChanged(captureShown_);
}

void CaptureWindowToggle::UpdateAction(QAction* action) const {
    action->setCheckable(true);
    action->setChecked(captureShown_);
    action->setEnabled(true);
}

void CaptureWindowToggle::OnClosedByOperator(CDialogCapView* dialog) {
    if (dialog != captureDlg_) {
        return;
    }
    // Deleted once its own close has returned; the camera goes with it.
    captureDlg_ = nullptr;
    captureShown_ = false;
    dialog->deleteLater();
    emit shownChanged(false);
}

}  // namespace kx
