// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>

#include "capture/capture_video.h"

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

namespace kx {

// The camera window "摄像头抓取": a modeless window whose black preview frame
// shows the live picture of the system's first camera, opened as soon as the
// window is made and kept filling the window when the operator resizes it;
// without a camera the frame says so and what to do.
// The list of cameras and the buttons exist but stay hidden, so the window
// always shows the camera that its initialisation chose.
class CDialogCapView : public QDialog {
    Q_OBJECT

public:
    // The preview frame's distance from the client area's edges: where the
    // window's form places it at creation, kept on every resize.
    static constexpr int kMarginLeft = 8;
    static constexpr int kMarginTop = 11;
    static constexpr int kMarginRight = 10;
    static constexpr int kMarginBottom = 10;

    // Builds the window and starts the preview; the caller shows it.
    explicit CDialogCapView(QWidget* parent = nullptr, CaptureSystem system = SystemCapture());
    ~CDialogCapView() override;

    CCaptureVideo& capture() { return capture_; }
    QFrame* preview() const { return preview_; }
    QComboBox* devices() const { return devices_; }
    // "未检测到摄像头" with what to do, over the black frame; shown while no
    // camera is listed.
    QLabel* noCameraNotice() const { return noCamera_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnInitDialog();
    // (Re)starts the preview with the selected camera.
    void OnInit();

    CCaptureVideo capture_;
    QFrame* preview_ = nullptr;
    QComboBox* devices_ = nullptr;
    QLabel* noCamera_ = nullptr;
};

}  // namespace kx
