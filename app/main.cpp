// SPDX-License-Identifier: MIT
// The station's program: KaldrixPlus.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/app_options.h"
#include "app/kaldrix_plus_app.h"

int main(int argc, char** argv) {
    // Answered before Qt starts: they need no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kx::AppUsage().toLocal8Bit().constData(), stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("kaldrixplus %s\n", KALDRIX_VERSION);
            return 0;
        }
    }
    QApplication app(argc, argv);
    kx::CKaldrixPlusApp theApp;
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    return theApp.InitInstance(app, arguments);
}
