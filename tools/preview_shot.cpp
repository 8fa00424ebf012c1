// SPDX-License-Identifier: MIT
#include "tools/preview_shot.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QScreen>
#include <QWindow>
#include <cstdio>

#include "ui/language.h"

namespace kx::preview {

std::optional<QDir> OutputFolder(int argc, char** argv, const char* program) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", program);
        return std::nullopt;
    }
    // A translation that could not be loaded leaves some texts in the other
    // language: the pictures are still worth having, the warning says why.
    if (!InstallLanguage(ChooseLanguage(std::nullopt, qgetenv("KALDRIX_LANG")))) {
        std::fprintf(stderr, "%s: a translation could not be loaded\n", program);
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.exists() && !QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return std::nullopt;
    }
    return folder;
}

PrintedMessages::PrintedMessages()
    : handler_([](const MessageRequest& r) {
          std::printf("message: %s\n", qPrintable(r.text));
          return QMessageBox::Ok;
      }) {}

void Settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

bool OnScreen() {
    return QGuiApplication::platformName() != QLatin1StringView("offscreen");
}

QPixmap GrabDialog(QDialog& dialog) {
    QWindow* handle = dialog.windowHandle();
    if (OnScreen() && handle != nullptr && handle->screen() != nullptr) {
        return handle->screen()->grabWindow(handle->winId());
    }
    return dialog.grab();
}

bool WritePng(const QPixmap& shot, const QDir& folder, const char* name) {
    const QString path = folder.filePath(QString::fromLatin1(name));
    if (shot.isNull() || !shot.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s (%dx%d)\n", qPrintable(path), shot.width(), shot.height());
    return true;
}

}  // namespace kx::preview
