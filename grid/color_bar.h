#pragma once

#include <QImage>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "grid/grid_model.h"
#include "grid/grid_painter.h"

namespace kx {

// The channel grid window. Owns the grid's model, repaints it from a timer
// into an off-screen image that is copied to the screen in one block, and
// answers the pointer: moves are remembered, a double click cycles the mode of
// the channel under the pointer, a single click is passed to the owner.
//
// The acquisition worker reaches the grid only through model(); everything
// else here runs on the user-interface thread.
class CColorBar : public QWidget {
    Q_OBJECT

public:
    // The platform raises shorter timer periods to this.
    static constexpr int kMinTimerPeriodMs = 10;

    explicit CColorBar(QWidget* parent = nullptr);
    ~CColorBar() override;

    GridModel& model() { return *model_; }

    // Takes the place of `control` (a placeholder of the owner's form): in its
    // parent's layout when it has one, otherwise at its geometry; the
    // placeholder is hidden. `controlId` is reported with every click. Does
    // nothing once attached; false when the control has no parent.
    bool AttachToControl(int controlId, QWidget* control);
    bool IsAttached() const { return attached_; }
    int controlId() const { return controlId_; }

    // With run set, (re)starts the repaint timer with the given period (at
    // least kMinTimerPeriodMs), otherwise stops it. Ticks only request
    // repaints.
    void SetRepaintTimer(int periodMs, bool run);
    const QTimer& repaintTimer() const { return timer_; }

    // Stores the flag and requests a repaint.
    void ShowVerdictRow(bool show);

    // One repaint into the off-screen image without showing it: evaluation
    // and drawing, as paintEvent does before its copy. Returns that image.
    const QImage& RepaintOffscreen();

signals:
    // A single click of the left button; the owner reads the hit head.
    void clicked(int controlId);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void StorePointer(QMouseEvent* event);

    std::unique_ptr<GridModel> model_;
    std::unique_ptr<GridFrame> frame_;
    GridPainter painter_;
    QImage backBuffer_;
    QTimer timer_;
    bool attached_ = false;
    int controlId_ = 0;
    QRect clientRect_;
    bool pressed_ = false;
};

}  // namespace kx
