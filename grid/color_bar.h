// SPDX-License-Identifier: MIT
#pragma once

#include <QImage>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <vector>

#include "grid/grid_model.h"
#include "grid/grid_painter.h"

namespace kx {

// The channel grid window. Owns the grid's model and answers the pointer:
// moves are remembered, a double click cycles the mode of the channel under
// the pointer, a single click is passed to the owner.
//
// Every timer tick judges the grid (so the fail count the acquisition worker
// drives the board's outputs from keeps the timer's pace) and brings the
// off-screen image up to date, drawing again only what changed since the
// last tick; only the changed parts of the window are then requested from
// the screen, which copies them from the image. A grid whose data stand
// still costs one judgement per tick and no drawing at all.
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
    // least kMinTimerPeriodMs), otherwise stops it. Every tick runs
    // RepaintOffscreen.
    void SetRepaintTimer(int periodMs, bool run);
    const QTimer& repaintTimer() const { return timer_; }

    // Stores the flag and requests a repaint.
    void ShowVerdictRow(bool show);

    // One repaint as a timer tick does it: judges the grid, draws what
    // changed into the off-screen image and requests those parts of the
    // window from the screen. Returns the image. Does nothing before the grid
    // is attached.
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
    // A repaint at the next turn of the event loop, once however often asked.
    void RequestRepaint();
    // Asks the screen for the parts of the window that the last repaint
    // changed.
    void RequestFromScreen();
    static constexpr std::size_t kMaxUpdateRects = 256;

    std::unique_ptr<GridModel> model_;
    std::unique_ptr<GridFrame> frame_;
    GridPainter painter_;
    std::vector<PixelRect> damage_;
    bool repaintRequested_ = false;
    QTimer timer_;
    bool attached_ = false;
    int controlId_ = 0;
    QRect clientRect_;
    bool pressed_ = false;
};

}  // namespace kx
