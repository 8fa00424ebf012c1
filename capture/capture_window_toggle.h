// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QPointer>

#include "capture/capture_video.h"

class QAction;

namespace kx {

class CDialogCapView;

// The camera window as the main window's "创建视频窗口" entry drives it. Each
// Toggle() opens the window (a new CDialogCapView with no parent, shown and
// brought to the front) or closes it (deleted, which stops the camera); the
// entry's check mark is IsShown(). When the operator closes the window
// itself, the flag drops too, so the check mark never claims a window that is
// gone. Destroying the toggle closes the window.
//
// The main window keeps one as a member and wires its entry:
//
//     connect(entry, &QAction::triggered, &cameraWindow_, &CaptureWindowToggle::Toggle);
//     connect(menu, &QMenu::aboutToShow, [this] { cameraWindow_.UpdateAction(entry); });
class CaptureWindowToggle : public QObject {
    Q_OBJECT

public:
    explicit CaptureWindowToggle(CaptureSystem system = SystemCapture(), QObject* parent = nullptr);
    ~CaptureWindowToggle() override;

    void Toggle();
    bool IsShown() const { return captureShown_; }
    // The open window, or null. Defined where CDialogCapView is complete:
    // QPointer's conversion casts from QObject.
    CDialogCapView* Dialog() const;

    // The entry's update handler: checkable, checked while the window is
    // open, always available.
    void UpdateAction(QAction* action) const;

signals:
    void shownChanged(bool shown);

private:
    void OnClosedByOperator(CDialogCapView* dialog);

    CaptureSystem system_;
    QPointer<CDialogCapView> captureDlg_;
    bool captureShown_ = false;
    bool toggling_ = false;
};

}  // namespace kx
