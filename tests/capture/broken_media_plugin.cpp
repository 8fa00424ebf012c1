// SPDX-License-Identifier: MIT
// A Qt media backend plugin as far as its metadata goes, which no loader can
// load: it needs a variable that no library defines. The backend check must
// refuse a plugin folder that holds it, as Qt would end the process on it.
#include <QObject>
#include <QtPlugin>

extern "C" int kx_symbol_defined_nowhere;

extern "C" __attribute__((visibility("default"))) int kx_broken_media_plugin_probe() {
    return kx_symbol_defined_nowhere;
}

class BrokenMediaPlugin : public QObject {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QPlatformMediaPlugin" FILE "broken_media_plugin.json")
};

#include "broken_media_plugin.moc"
