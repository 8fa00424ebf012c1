// SPDX-License-Identifier: MIT
#pragma once

#include <QApplication>

namespace kx {

// The wait cursor for a scope in which the window's own thread talks to the
// boards: a board that does not answer costs each exchange its bound.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace kx
