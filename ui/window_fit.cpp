// SPDX-License-Identifier: MIT
#include "ui/window_fit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QObject>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace kx {

namespace {

// The room the window manager's frame takes: the window's own frame once it
// is shown, before that its parent window's (the same manager decorates
// both), and none without either.
QSize Extent(const QMargins& m) {
    return {m.left() + m.right(), m.top() + m.bottom()};
}

QSize FrameExtra(const QWidget* window) {
    const QWindow* handle = window->windowHandle();
    if (handle != nullptr && window->isVisible() && !handle->frameMargins().isNull()) {
        return Extent(handle->frameMargins());
    }
    const QWidget* parent = window->parentWidget();
    if (parent != nullptr && parent->window()->windowHandle() != nullptr) {
        return Extent(parent->window()->windowHandle()->frameMargins());
    }
    return handle != nullptr ? Extent(handle->frameMargins()) : QSize(0, 0);
}

// Moves the frame's rectangle into the area: the right and bottom edges
// first, the left and top last, so that what does not fit hangs out at the
// right and the bottom, never at the title bar.
QPoint MovedInside(QRect frame, const QRect& area) {
    if (frame.right() > area.right()) {
        frame.moveRight(area.right());
    }
    if (frame.bottom() > area.bottom()) {
        frame.moveBottom(area.bottom());
    }
    if (frame.left() < area.left()) {
        frame.moveLeft(area.left());
    }
    if (frame.top() < area.top()) {
        frame.moveTop(area.top());
    }
    return frame.topLeft();
}

QSize Shrunk(const QWidget* window, const QSize& extra, const QRect& available) {
    const QSize room = (available.size() - extra).expandedTo(QSize(1, 1));
    QSize size = window->size().boundedTo(room);
    // A layout that cannot shrink further keeps its minimum: the dialogs
    // put a scroll area around what cannot shrink, so that minimum is small.
    const QSize minimum = window->minimumSizeHint().expandedTo(window->minimumSize());
    return size.expandedTo(minimum.boundedTo(window->maximumSize()));
}

// Shrinks the window into the area and moves its frame inside: centred
// over its parent or in the area when `centre`, otherwise from where it is.
void ShrinkAndPlace(QWidget* window, const QRect& area, bool centre) {
    const QSize extra = FrameExtra(window);
    window->resize(Shrunk(window, extra, area));
    const QSize frame = window->size() + extra;
    QRect place(window->pos(), frame);
    if (centre) {
        const QWidget* parent = window->parentWidget();
        if (parent != nullptr && parent->window()->isVisible()) {
            const QRect over = parent->window()->frameGeometry();
            place = QRect(over.center() - QPoint(frame.width() / 2, frame.height() / 2), frame);
        } else {
            place = CentredIn(frame, area);
        }
    }
    window->move(MovedInside(place, area));
}

// One per window: the first show places the window, later ones only keep
// it inside, so a place the operator chose stays.
class FitOnShowFilter : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* window = static_cast<QWidget*>(watched);
            if (window->isWindow()) {
                ShrinkAndPlace(window, AvailableArea(window), !placed_);
                placed_ = true;
            }
        }
        return false;
    }

private:
    bool placed_ = false;
};

}  // namespace

QRect AvailableArea(const QWidget* window) {
    const QScreen* screen = nullptr;
    if (window != nullptr) {
        const QWidget* parent = window->parentWidget();
        screen = parent != nullptr ? parent->window()->screen() : window->screen();
    }
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    return screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 600);
}

QRect CentredIn(const QSize& size, const QRect& area) {
    const QPoint topLeft(area.left() + std::max(0, (area.width() - size.width()) / 2),
                         area.top() + std::max(0, (area.height() - size.height()) / 2));
    return {topLeft, size};
}

QRect NormalPlace(const QRect& available) {
    return CentredIn(QSize(available.width() * 2 / 3, available.height() * 2 / 3), available);
}

void FitInto(QWidget* window, const QRect& available) {
    ShrinkAndPlace(window, available, true);
}

void FitOnShow(QWidget* window) {
    window->installEventFilter(new FitOnShowFilter(window));
}

}  // namespace kx
