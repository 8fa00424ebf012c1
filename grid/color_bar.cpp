#include "grid/color_bar.h"

#include <QLayout>
#include <QMouseEvent>
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
    connect(&timer_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
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
    update();
}

const QImage& CColorBar::RepaintOffscreen() {
    model_->Evaluate(clientRect_.width(), clientRect_.height(), *frame_);
    painter_.Paint(*frame_, backBuffer_);
    return backBuffer_;
}

void CColorBar::paintEvent(QPaintEvent*) {
    if (!attached_) {
        return;
    }
    RepaintOffscreen();
    QPainter p(this);
    if (backBuffer_.isNull()) {
        return;
    }
    p.drawImage(0, 0, backBuffer_);
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
    update();
}

}  // namespace kx
