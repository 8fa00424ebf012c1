// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "core/tr_text.h"

namespace kx {

// A configuration file is a few hundred kilobytes at most; anything far
// larger is not one, and is refused rather than read into memory (where a
// file of tiny lines takes some fifty times its size).
inline constexpr std::size_t kMaxConfigFileBytes = 16u << 20;

// Said after a load was refused for the file's contents (untranslated: pass
// it through TrText("FileAccess", ...) where it is shown).
inline constexpr char kNothingChangedText[] =
    KX_TRANSLATE_NOOP("FileAccess", "界面和测试板上的设置都没有改动。");

// What went wrong with a file, for the operator: what was being done, to
// which file, and why. code 0 means nothing went wrong.
struct FileError {
    int code = 0;  // errno value, or one of the codes below
    // What was being done, untranslated (a KX_TRANSLATE_NOOP of context
    // "FileAccess", e.g. "写入临时文件"); Message() translates it.
    std::string action;
    std::string path;
    std::string detail;         // the system's own text, when there is one
    bool originalKept = false;  // a save failed and the file it was to replace is as it was

    static constexpr int kTooLarge = -1;      // over kMaxConfigFileBytes
    static constexpr int kNotRegular = -2;    // a folder, device or pipe
    static constexpr int kReadOnlyFile = -3;  // the file exists but may not be written
    static constexpr int kUtf16 = -4;         // UTF-16 text, which this reader does not take
    static constexpr int kInvalidName = -5;   // empty path
    // The file was read, but it is not what the command loads; `detail`
    // says what is missing. Nothing has changed then.
    static constexpr int kNotConfig = -6;          // none of the keys Load reads
    static constexpr int kLegacyConfig = -7;       // the older single-head layout, given to Load
    static constexpr int kNotLegacyConfig = -8;    // none of the keys the old-version load reads
    static constexpr int kNewConfig = -9;          // a configuration, given to the old-version load
    static constexpr int kIncompleteConfig = -10;  // keys the load needs are missing
    static constexpr int kNoHeads = -11;           // a layout without a head

    explicit operator bool() const { return code != 0; }
    // One of the codes of a file that was read but refused for its contents.
    bool ContentRefused() const { return code <= kNotConfig && code >= kNoHeads; }

    // For the operator, in the station's language; in Chinese:
    // "“<path>”：<action>失败，<reason>（<detail>）。" and "原文件未改动。"
    // when originalKept. A file refused for its contents:
    // "“<path>”<reason>：<detail>。" and that nothing has changed.
    std::string Message() const;
};

// The reason, for the operator in the station's language, for an errno value or one of FileError's
// own codes.
std::string FileErrorReason(int code);

// Seams for the steps of a save that can fail, so that tests can make them
// fail where a real disk rarely does. An empty function means the system
// call itself.
struct FileHooks {
    std::function<ssize_t(int fd, const void* data, std::size_t size)> write;
    std::function<int(int fd)> fsync;
    std::function<int(const char* from, const char* to)> rename;
};

// Reads a whole regular file of at most `maxBytes` (larger: kTooLarge). Never
// blocks on a pipe or device (refused as kNotRegular). A file that does not
// exist sets *missing (when given) and is an error with code ENOENT.
FileError ReadWholeFile(const std::string& path, std::string& bytes, bool* missing = nullptr,
                        std::size_t maxBytes = kMaxConfigFileBytes);

// Replaces the file at `path` by `bytes` so that it is never seen truncated
// or half-written: the bytes go to a new file in the same folder, are flushed
// to the disk, and that file is then renamed over the old one. Until the
// rename the old file is untouched; after any failure the temporary file is
// removed. The new file keeps the old one's permission bits (and owner, where
// the process may set it); a new file gets 0666 less the umask. A path that
// is a symbolic link replaces the file it points to. An existing file that
// the process may not write is refused, as it would be if it were updated in
// place, and so is a file without any write permission bit even when the
// process could write it all the same (root): read-only is read-only.
//
// Any number of saves, in any number of processes, may replace the same file
// at once: each writes a temporary file of its own, named
// ".<name>.<pid>-<count>-<clock>-<attempt>.tmp" in the file's folder, and the
// last rename wins with a whole file. Each save holds an advisory lock
// (flock) on its temporary file until its rename is done.
//
// A save that is killed leaves its temporary file behind. Every save
// therefore first removes, from the folder it saves into, such files of
// earlier saves (of any file there) that are stale: named exactly as above,
// a regular file, not locked (the kernel drops the lock of a process that
// died), and last modified more than kStaleSaveFileAge ago. The age covers
// the moment between a save creating its file and locking it, and the
// temporary files of a station without the lock. Anything else (other
// programs' files, whatever their names, and the files of a save still
// running in any process) is left alone; a file that cannot be opened or
// locked is left alone too. Removal is best effort and never fails a save.
FileError ReplaceFileContents(const std::string& path, std::string_view bytes,
                              const FileHooks* hooks = nullptr);

// How old an unlocked temporary file of a save must be before another save
// takes it for the remains of a killed one.
inline constexpr std::chrono::seconds kStaleSaveFileAge{10 * 60};

// Removes the stale temporary files of earlier saves from `folder` (see
// ReplaceFileContents) and returns how many it removed.
int RemoveStaleSaveFiles(const std::string& folder);

}  // namespace kx
