// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

namespace kx {

// Qt Multimedia ends the process the first time one of its camera or video
// classes is made while no media backend plugin can be loaded. The camera
// engine asks here before it makes any of them, so that a station without the
// backend keeps running and only its camera window stays empty.
//
// True when a "multimedia" folder under one of `pluginPaths` holds a Qt media
// backend plugin that loads. With `requested` set (the backend named by
// QT_MEDIA_BACKEND, which Qt then insists on) the plugin with that key must
// load; otherwise every media plugin found must load, because which of them
// Qt takes is its own choice.
bool MediaBackendLoads(const QStringList& pluginPaths, const QString& requested);

// The same for this process: Qt's plugin paths and its QT_MEDIA_BACKEND.
bool MediaBackendPresent();

}  // namespace kx
