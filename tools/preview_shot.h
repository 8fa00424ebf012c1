// SPDX-License-Identifier: MIT
#pragma once

#include <QDir>
#include <QPixmap>
#include <optional>

#include "ui/message_box.h"

class QDialog;

namespace kx::preview {

// What the preview programs (kaldrix-about-preview, kaldrix-baseline-preview)
// share: their output folder, their message boxes printed instead of shown,
// the event loop run for a while, and the pictures taken and written.

// The folder of `program <folder>`, made when missing. Prints the usage or
// the failure on standard error and returns nothing when there is none.
// Installs the language KALDRIX_LANG asks for (Chinese without it), as the
// station does, so that the pictures of either language can be made.
std::optional<QDir> OutputFolder(int argc, char** argv, const char* program);

// Answers every message box with OK after printing its text on standard
// output, for as long as it lives.
class PrintedMessages {
public:
    PrintedMessages();

private:
    ScopedMessageHandler handler_;
};

// Lets the event loop run for `ms`.
void Settle(int ms);

// True on a platform with a screen to read (xcb under xvfb-run); false on
// the offscreen platform, where widgets render themselves.
bool OnScreen();

// The dialog alone: its window as the screen shows it, or elsewhere its own
// rendering.
QPixmap GrabDialog(QDialog& dialog);

// Writes `shot` as the PNG `name` in `folder` and prints its path and size.
// False, said on standard error, when the picture is empty or not written.
bool WritePng(const QPixmap& shot, const QDir& folder, const char* name);

}  // namespace kx::preview
