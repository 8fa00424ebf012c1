// SPDX-License-Identifier: MIT
#include "grid/color_bar.h"

#include <QLayout>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

namespace kx {

CColorBar::CColorBar(QWidget* parent)
    : QWidget(parent),
      model_(std::make_unique<GridModel>()),
      frame_(std::make_unique<GridFrame>()) {
    // Every pixel is painted from the back buffer: no background erase.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { RepaintOffscreen(); });
}

CColorBar::~CColorBar() = default;

bool CColorBar::AttachToControl(int controlId, QWidget* control) {
    if (attached_) {
        return true;
    }
    if (control == nullptr || control->parentWidget() == nullptr) {
        return false;
    }
    QWidget* parent = control->parentWidget();
    setParent(parent);
    QLayout* layout = parent->layout();
    // The layout hands back the placeholder's item, which is ours to delete.
    QLayoutItem* replaced = layout != nullptr ? layout->replaceWidget(control, this) : nullptr;
    if (replaced != nullptr) {
        delete replaced;
    } else {
        setGeometry(control->geometry());
    }
    setSizePolicy(control->sizePolicy());
    control->hide();
    show();
    controlId_ = controlId;
    attached_ = true;
    clientRect_ = rect();
    return true;
}

void CColorBar::SetRepaintTimer(int periodMs, bool run) {
    if (run) {
        timer_.start(std::max(periodMs, kMinTimerPeriodMs));
    } else {
        timer_.stop();
    }
}

void CColorBar::ShowVerdictRow(bool show) {
    model_->ShowVerdictRow(show);
    RequestRepaint();
}

void CColorBar::RequestRepaint() {
    if (repaintRequested_) {
        return;
    }
    repaintRequested_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            repaintRequested_ = false;
            RepaintOffscreen();
        },
        Qt::QueuedConnection);
}

const QImage& CColorBar::RepaintOffscreen() {
    if (!attached_) {
        return painter_.image();
    }
    model_->Evaluate(clientRect_.width(), clientRect_.height(), *frame_);
    painter_.Paint(*frame_, &damage_);
    RequestFromScreen();
    return painter_.image();
}

// The screen copies the requested parts from the image. Qt copies a single
// rectangle as one block, a region of several rectangles span by span at
// some twice the cost per pixel, and every rectangle requested costs about
// as much again as a few thousand pixels. Whichever is cheaper is asked for:
// the rectangles, or one rectangle around them all (when most of the window
// changed).
void CColorBar::RequestFromScreen() {
    if (damage_.empty()) {
        return;
    }
    QRect all;
    double area = 0;
    for (const PixelRect& r : damage_) {
        all |= QRect(r.left, r.top, r.Width(), r.Height());
        area += static_cast<double>(r.Width()) * r.Height();
    }
    constexpr double kPerRect = 3000;    // in pixels copied as one block
    constexpr double kPerSpanPixel = 2;  // likewise
    const double asRects = static_cast<double>(damage_.size()) * kPerRect + area * kPerSpanPixel;
    const double asBlock = kPerRect + static_cast<double>(all.width()) * all.height();
    if (damage_.size() > kMaxUpdateRects || asBlock < asRects) {
        update(all);
        return;
    }
    for (const PixelRect& r : damage_) {
        update(QRect(r.left, r.top, r.Width(), r.Height()));
    }
}

void CColorBar::paintEvent(QPaintEvent* event) {
    if (!attached_) {
        return;
    }
    // Shown for the first time or resized since the last tick: draw it all
    // now rather than show an image of another size. Qt asks for the whole
    // widget then.
    const bool redrawn = painter_.image().size() != clientRect_.size();
    if (redrawn) {
        model_->Evaluate(clientRect_.width(), clientRect_.height(), *frame_);
        painter_.Paint(*frame_);
    }
    const QImage& image = painter_.image();
    if (image.isNull()) {
        return;
    }
    QPainter p(this);
    for (const QRect& r : event->region()) {
        p.drawImage(r.topLeft(), image, r);
    }
    // Whatever else the redraw changed still has to reach the screen.
    if (redrawn && !QRegion(rect()).subtracted(event->region()).isEmpty()) {
        update();
    }
}

void CColorBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (attached_) {
        clientRect_ = rect();
    }
}

void CColorBar::StorePointer(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    model_->SetPointer(pos.x(), pos.y(),
                       static_cast<std::int32_t>(event->buttons().toInt()) |
                           static_cast<std::int32_t>(event->modifiers().toInt()));
}

void CColorBar::mouseMoveEvent(QMouseEvent* event) {
    StorePointer(event);
    QWidget::mouseMoveEvent(event);
}

void CColorBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        pressed_ = true;
    }
    QWidget::mousePressEvent(event);
}

void CColorBar::mouseReleaseEvent(QMouseEvent* event) {
    // A click is a press and release of the left button inside the window;
    // the second release of a double click is not one.
    if (event->button() == Qt::LeftButton && pressed_) {
        pressed_ = false;
        if (rect().contains(event->position().toPoint())) {
            emit clicked(controlId_);
        }
    }
    QWidget::mouseReleaseEvent(event);
}

void CColorBar::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    pressed_ = false;
    StorePointer(event);
    // The channel found by the last repaint, not one under this position:
    // the stored position only takes effect at the next repaint.
    model_->CycleHitChannelMode();
    RequestRepaint();
}

}  // namespace kx
