// SPDX-License-Identifier: MIT
#pragma once

#include <QImage>

class QWidget;

namespace kx {

// The window as the screen shows it, client area only. The video widget
// draws into a native child window of its own, which a widget's grab() does
// not see and which some platforms (offscreen, for one) keep apart from the
// window's own picture; every visible native child window is painted over
// the window's picture at its place. On a platform that cannot read its
// screen, the widgets' own rendering. Null for a window never shown.
QImage GrabWindow(QWidget* window);

}  // namespace kx
