// The station's program: KaldrixPlus.
#include <QApplication>

#include "app/kaldrix_plus_app.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    kx::CKaldrixPlusApp theApp;
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    return theApp.InitInstance(app, arguments);
}
