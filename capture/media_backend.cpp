// SPDX-License-Identifier: MIT
#include "capture/media_backend.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibrary>
#include <QPluginLoader>

namespace kx {

namespace {

// The interface id every Qt media backend plugin declares.
constexpr QLatin1StringView kMediaPluginIid("org.qt-project.Qt.QPlatformMediaPlugin");

bool HasKey(const QJsonObject& metaData, const QString& key) {
    const QJsonArray keys = metaData.value(QLatin1StringView("MetaData"))
                                .toObject()
                                .value(QLatin1StringView("Keys"))
                                .toArray();
    for (const QJsonValue& k : keys) {
        if (k.toString().compare(key, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool MediaBackendLoads(const QStringList& pluginPaths, const QString& requested) {
    bool found = false;
    for (const QString& path : pluginPaths) {
        const QDir dir(path + QLatin1StringView("/multimedia"));
        const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::Readable, QDir::Name);
        for (const QFileInfo& file : files) {
            if (!QLibrary::isLibrary(file.fileName())) {
                continue;
            }
            // Reading the metadata does not load the library.
            QPluginLoader loader(file.absoluteFilePath());
            const QJsonObject metaData = loader.metaData();
            if (metaData.value(QLatin1StringView("IID")).toString() != kMediaPluginIid) {
                continue;
            }
            if (!requested.isEmpty() && !HasKey(metaData, requested)) {
                continue;
            }
            // Loading resolves the plugin's own libraries (GStreamer, FFmpeg);
            // Qt loads the same file again later and shares this load.
            if (!loader.load()) {
                return false;
            }
            found = true;
        }
    }
    return found;
}

bool MediaBackendPresent() {
    return MediaBackendLoads(QCoreApplication::libraryPaths(),
                             qEnvironmentVariable("QT_MEDIA_BACKEND"));
}

}  // namespace kx
