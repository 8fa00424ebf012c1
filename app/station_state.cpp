// SPDX-License-Identifier: MIT
#include "app/station_state.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <algorithm>
#include <cstdio>

#include "app/app_options.h"
#include "station/board_family.h"

namespace kx {

namespace {

constexpr const char* kRecentKey = "recent/files";
constexpr const char* kDeviceTypeKey = "station/deviceType";
// Longer than any path the system opens.
constexpr qsizetype kMaxPathLength = 4096;

// A path as the state file may hold it: absolute, of a sane length, with
// no control characters (a line break would split the menu entry).
bool PlausiblePath(const QString& path) {
    return !path.isEmpty() && path.size() <= kMaxPathLength && QDir::isAbsolutePath(path) &&
           std::none_of(path.begin(), path.end(),
                        [](QChar c) { return c.category() == QChar::Other_Control; });
}

}  // namespace

QString RecentFileKey(const QString& path) {
    if (path.isEmpty()) {
        return {};
    }
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

QStringList WithRecentFile(const QStringList& list, const QString& path) {
    const QString key = RecentFileKey(path);
    if (key.isEmpty()) {
        return list;
    }
    QStringList result = WithoutRecentFile(list, key);
    result.prepend(key);
    while (result.size() > kRecentFilesLimit) {
        result.removeLast();
    }
    return result;
}

QStringList WithoutRecentFile(const QStringList& list, const QString& path) {
    const QString key = RecentFileKey(path);
    QStringList result;
    for (const QString& entry : list) {
        if (RecentFileKey(entry) != key) {
            result.append(entry);
        }
    }
    return result;
}

StationState::StationState()
    : StationState(QFileInfo(DefaultSettingsPath()).absolutePath() + QStringLiteral("/state.ini")) {
}

StationState::StationState(const QString& file) : file_(file) {
    // QSettings reads the whole file: one that is not a small regular file
    // is not ours, and is neither read nor overwritten.
    const QFileInfo info(file_);
    if (info.exists() && (!info.isFile() || info.size() > kMaxStateFileBytes)) {
        std::fprintf(stderr,
                     "kaldrixplus: %s is not a state file; recent files and the device type are "
                     "not remembered\n",
                     file_.toLocal8Bit().constData());
        return;
    }
    settings_ = std::make_unique<QSettings>(file_, QSettings::IniFormat);
    Read();
}

StationState::~StationState() = default;

void StationState::Read() {
    // Only what passes the checks is taken; a damaged file reads as far as
    // QSettings understood it.
    recent_.clear();
    QStringList keys;
    for (const QString& path : settings_->value(QString::fromLatin1(kRecentKey)).toStringList()) {
        if (recent_.size() >= kRecentFilesLimit) {
            break;
        }
        // The first spelling of a file counts; later ones of the same file
        // are dropped.
        if (!PlausiblePath(path)) {
            continue;
        }
        const QString key = RecentFileKey(path);
        if (!keys.contains(key)) {
            keys.append(key);
            recent_.append(path);
        }
    }
    bool ok = false;
    const int type = settings_->value(QString::fromLatin1(kDeviceTypeKey)).toString().toInt(&ok);
    if (ok && type >= 0 && type < kDeviceTypes) {
        deviceType_ = type;
    }
}

void StationState::Write() {
    if (!settings_ || !writable_) {
        return;
    }
    settings_->setValue(QString::fromLatin1(kRecentKey), recent_);
    if (deviceType_) {
        settings_->setValue(QString::fromLatin1(kDeviceTypeKey), *deviceType_);
    }
    settings_->sync();
    // A damaged file's FormatError stays from its reading; it is written
    // over all the same.
    if (settings_->status() == QSettings::AccessError) {
        // Said once; the station goes on with the state in memory.
        writable_ = false;
        std::fprintf(stderr,
                     "kaldrixplus: cannot write %s; recent files and the device type are kept "
                     "for this run only\n",
                     file_.toLocal8Bit().constData());
    }
}

void StationState::AddRecentFile(const QString& path) {
    recent_ = WithRecentFile(recent_, path);
    Write();
}

void StationState::RemoveRecentFile(const QString& path) {
    recent_ = WithoutRecentFile(recent_, path);
    Write();
}

void StationState::SetDeviceType(int type) {
    if (type < 0 || type >= kDeviceTypes) {
        return;
    }
    deviceType_ = type;
    Write();
}

}  // namespace kx
