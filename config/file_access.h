#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace kx {

// A configuration file is a few hundred kilobytes at most; anything far
// larger is not one, and is refused rather than read into memory (where a
// file of tiny lines takes some fifty times its size).
inline constexpr std::size_t kMaxConfigFileBytes = 16u << 20;

// Said after a load was refused for the file's contents.
inline constexpr char kNothingChangedText[] = "界面和测试板上的设置都没有改动。";

// What went wrong with a file, for the operator: what was being done, to
// which file, and why. code 0 means nothing went wrong.
struct FileError {
    int code = 0;        // errno value, or one of the codes below
    std::string action;  // e.g. "写入临时文件"
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

    // For the operator, in Chinese: "“<path>”：<action>失败，<reason>（<detail>）。"
    // and "原文件未改动。" when originalKept. A file refused for its contents:
    // "“<path>”<reason>：<detail>。" and that nothing has changed.
    std::string Message() const;
};

// The Chinese reason for an errno value or one of FileError's own codes.
std::string FileErrorReason(int code);

// Seams for the steps of a save that can fail, so that tests can make them
// fail where a real disk rarely does. An empty function means the system
// call itself.
struct FileHooks {
    std::function<ssize_t(int fd, const void* data, std::size_t size)> write;
    std::function<int(int fd)> fsync;
    std::function<int(const char* from, const char* to)> rename;
};

// Reads a whole regular file of at most kMaxConfigFileBytes. Never blocks on
// a pipe or device. A file that does not exist sets *missing (when given) and
// is an error with code ENOENT.
FileError ReadWholeFile(const std::string& path, std::string& bytes, bool* missing = nullptr);

// Replaces the file at `path` by `bytes` so that it is never seen truncated
// or half-written: the bytes go to a new file in the same folder, are flushed
// to the disk, and that file is then renamed over the old one. Until the
// rename the old file is untouched; after any failure the temporary file is
// removed. The new file keeps the old one's permission bits (and owner, where
// the process may set it); a new file gets 0666 less the umask. A path that
// is a symbolic link replaces the file it points to. An existing file that
// the process may not write is refused, as it would be if it were updated in
// place.
FileError ReplaceFileContents(const std::string& path, std::string_view bytes,
                              const FileHooks* hooks = nullptr);

}  // namespace kx
