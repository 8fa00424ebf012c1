// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QSettings;

namespace kx {

// The "文件(&F)" menu lists at most this many configuration files.
inline constexpr int kRecentFilesLimit = 5;
// A state file larger than this is not the station's and is left alone.
inline constexpr qint64 kMaxStateFileBytes = 64 * 1024;

// What a path is compared by in the recent list: the canonical path of a
// file that exists (links and "a/../b" spellings resolved), else the
// cleaned absolute path. Empty for an empty path.
QString RecentFileKey(const QString& path);

// `list` with `path` first, once (a path of the same key is dropped), at
// most kRecentFilesLimit entries. The path is kept as RecentFileKey spells it.
QStringList WithRecentFile(const QStringList& list, const QString& path);
// `list` without the entries of `path`'s key.
QStringList WithoutRecentFile(const QStringList& list, const QString& path);

// What the station remembers between runs, and nothing else: the recent
// configuration files and the last device type chosen in the menu. Test
// settings stay in the configuration files and on the boards.
//
// Kept in an INI file of its own (QSettings), apart from the strictly
// checked kaldrixplus.conf: $XDG_CONFIG_HOME/kaldrixplus/state.ini.
// Whatever the file holds is checked before it is used (paths absolute,
// without control characters, at most kRecentFilesLimit; a device type of
// 0 to 5); a file that is damaged, too large, not a regular file or cannot
// be written never stops the station: it then runs with what it could
// read, and keeps the rest for this run only.
class StationState {
public:
    // The user's state file.
    StationState();
    // `file` instead (tests).
    explicit StationState(const QString& file);
    ~StationState();
    StationState(const StationState&) = delete;
    StationState& operator=(const StationState&) = delete;

    // False once a write failed (or the file was refused): the state lives
    // on for this run only.
    bool Persistent() const { return settings_ != nullptr && writable_; }

    // Most recent first.
    QStringList RecentFiles() const { return recent_; }
    void AddRecentFile(const QString& path);
    void RemoveRecentFile(const QString& path);

    // The device type chosen last (0 standard, 1-5 machine n), if any.
    std::optional<int> DeviceType() const { return deviceType_; }
    void SetDeviceType(int type);

private:
    void Read();
    void Write();

    QString file_;
    std::unique_ptr<QSettings> settings_;
    bool writable_ = true;
    QStringList recent_;
    std::optional<int> deviceType_;
};

}  // namespace kx
