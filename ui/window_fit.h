// SPDX-License-Identifier: MIT
#pragma once

#include <QRect>
#include <QSize>

class QWidget;

namespace kx {

// Where the station's windows open: inside the available area of their
// screen (the screens run from 1024 x 600 to 1920 x 1080), with the frame
// the window manager adds counted in.

// The available area of the screen a window opens on: its parent's screen
// for a dialog with a parent, otherwise its own, otherwise the primary one.
QRect AvailableArea(const QWidget* window);

// Limits the window's size to what the area leaves beside its frame (never
// below the minimum size its layout allows) and places it: centred over its
// parent's window when it has a visible one, otherwise centred in the area,
// then moved into the area so its frame's top-left corner is never outside.
void FitInto(QWidget* window, const QRect& available);

// The same, kept for the window's life: each time the window is shown it is
// shrunk into the available area of its screen, centred the first time and
// only moved back inside afterwards (a place the operator chose stays).
// Call once, from the window's constructor.
void FitOnShow(QWidget* window);

// A rectangle of `size` centred in `area`, its top-left corner inside the
// area even when the size is larger.
QRect CentredIn(const QSize& size, const QRect& area);

// Two thirds of the area's width and height, centred: the main window's
// normal (un-maximised) place.
QRect NormalPlace(const QRect& available);

}  // namespace kx
