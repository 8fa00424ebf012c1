// SPDX-License-Identifier: MIT
#include "capture/window_grab.h"

#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace kx {

QImage GrabWindow(QWidget* window) {
    if (window == nullptr) {
        return {};
    }
    QWindow* top = window->window()->windowHandle();
    QScreen* screen = window->screen();
    QImage shot;
    if (top != nullptr && screen != nullptr) {
        shot = screen->grabWindow(top->winId()).toImage();
    }
    if (shot.isNull()) {
        return window->grab().toImage();
    }
    shot = shot.convertToFormat(QImage::Format_RGB32);

    // The child windows, outermost first so that nested ones end on top.
    // Where the screen already holds them (X11), this paints the same pixels
    // again.
    QPainter painter(&shot);
    const QPoint origin = top->mapToGlobal(QPoint(0, 0));
    for (QWindow* child : top->findChildren<QWindow*>()) {
        if (!child->isVisible() || !child->isExposed()) {
            continue;
        }
        const QPixmap part = screen->grabWindow(child->winId());
        if (!part.isNull()) {
            painter.drawPixmap(child->mapToGlobal(QPoint(0, 0)) - origin, part);
        }
    }
    return shot;
}

}  // namespace kx
