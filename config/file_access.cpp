// SPDX-License-Identifier: MIT
#include "config/file_access.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <system_error>

#include "core/tr_text.h"

namespace kx {

namespace {

FileError Fail(int code, std::string action, const std::string& path) {
    FileError e;
    e.code = code;
    e.action = std::move(action);
    e.path = path;
    if (code > 0) {
        e.detail = std::system_category().message(code);
    }
    return e;
}

// Closes a descriptor when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    // Closes now and returns close's result (an error may show only here).
    int Close() {
        const int r = ::close(fd_);
        fd_ = -1;
        return r;
    }

private:
    int fd_;
};

FileError Kept(FileError e, bool existed) {
    e.originalKept = existed;
    return e;
}

std::string Dirname(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

std::string Basename(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

constexpr std::string_view kTempSuffix = ".tmp";

// A name in `dir` that no other save (of this or another process) uses:
// "." stem "." pid "-" count "-" clock "-" attempt ".tmp". IsSaveTempName
// recognises exactly these names.
std::string TempName(const std::string& dir, const std::string& base, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    char tag[64];
    std::snprintf(tag, sizeof tag, "%ld-%u-%x-%u", static_cast<long>(::getpid()),
                  counter.fetch_add(1), static_cast<unsigned>(now), attempt);
    // Keeps the temporary name within NAME_MAX even for a long file name.
    const std::string stem = base.substr(0, 160);
    return (dir == "/" ? "" : dir) + "/." + stem + "." + tag + std::string(kTempSuffix);
}

// True when `field` is one or more digits (hexadecimal ones when `hex`).
bool IsNumberField(std::string_view field, bool hex) {
    if (field.empty()) {
        return false;
    }
    for (const char c : field) {
        const bool digit = c >= '0' && c <= '9';
        if (!digit && !(hex && c >= 'a' && c <= 'f')) {
            return false;
        }
    }
    return true;
}

// True for a name TempName can give, and for no other.
bool IsSaveTempName(std::string_view name) {
    if (name.size() <= kTempSuffix.size() || name.front() != '.' ||
        name.substr(name.size() - kTempSuffix.size()) != kTempSuffix) {
        return false;
    }
    name.remove_suffix(kTempSuffix.size());
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot < 2) {
        return false;  // no stem between the leading dot and the tag
    }
    std::string_view tag = name.substr(dot + 1);
    for (int field = 0; field < 4; ++field) {
        const std::size_t dash = field < 3 ? tag.find('-') : tag.size();
        if (dash == std::string_view::npos || !IsNumberField(tag.substr(0, dash), field == 2)) {
            return false;
        }
        tag.remove_prefix(std::min(dash + 1, tag.size()));
    }
    return true;
}

ssize_t DoWrite(const FileHooks* hooks, int fd, const void* data, std::size_t size) {
    return hooks && hooks->write ? hooks->write(fd, data, size) : ::write(fd, data, size);
}

int DoFsync(const FileHooks* hooks, int fd) {
    return hooks && hooks->fsync ? hooks->fsync(fd) : ::fsync(fd);
}

int DoRename(const FileHooks* hooks, const char* from, const char* to) {
    return hooks && hooks->rename ? hooks->rename(from, to) : ::rename(from, to);
}

}  // namespace

std::string FileErrorReason(int code) {
    switch (code) {
        case 0:
            return TrText("FileAccess", "成功");
        case FileError::kTooLarge:
            return TrText("FileAccess", "文件过大，不是配置文件");
        case FileError::kNotRegular:
            return TrText("FileAccess", "不是普通文件");
        case FileError::kReadOnlyFile:
            return TrText("FileAccess", "文件为只读");
        case FileError::kUtf16:
            return TrText("FileAccess", "文件为 UTF-16 编码，请另存为 UTF-8 或 ANSI 编码后再使用");
        case FileError::kInvalidName:
            return TrText("FileAccess", "没有文件名");
        case FileError::kNotConfig:
            return TrText("FileAccess", "不是配置文件");
        case FileError::kLegacyConfig:
            return TrText("FileAccess",
                          "是老版本的配置文件，请用“文件”菜单中的“老版本配置载入”载入");
        case FileError::kNotLegacyConfig:
            return TrText("FileAccess", "不是老版本的配置文件");
        case FileError::kNewConfig:
            return TrText("FileAccess", "是新版本的配置文件，请用“文件”菜单中的“载入”载入");
        case FileError::kIncompleteConfig:
            return TrText("FileAccess", "不完整，可能被截断或改动过");
        case FileError::kNoHeads:
            return TrText("FileAccess", "中的布局没有测试头");
        case ENOENT:
            return TrText("FileAccess", "文件或文件夹不存在");
        case EACCES:
        case EPERM:
            return TrText("FileAccess", "没有访问权限");
        case EROFS:
            return TrText("FileAccess", "文件系统为只读");
        case ENOSPC:
            return TrText("FileAccess", "磁盘空间不足");
        case EDQUOT:
            return TrText("FileAccess", "超出磁盘配额");
        case EIO:
            return TrText("FileAccess", "读写设备出错");
        case EISDIR:
            return TrText("FileAccess", "这是一个文件夹");
        case ENOTDIR:
            return TrText("FileAccess", "路径中有一项不是文件夹");
        case ENAMETOOLONG:
            return TrText("FileAccess", "文件名过长");
        case EMFILE:
        case ENFILE:
            return TrText("FileAccess", "打开的文件过多");
        case EFBIG:
            return TrText("FileAccess", "文件过大");
        case ELOOP:
            return TrText("FileAccess", "符号链接层数过多");
        default:
            return FormatText(TrText("FileAccess", "系统错误 %1"), {std::to_string(code)});
    }
}

std::string FileError::Message() const {
    const std::string reason = FileErrorReason(code);
    if (ContentRefused()) {
        const std::string nothingChanged = TrText("FileAccess", kNothingChangedText);
        if (detail.empty()) {
            return FormatText(TrText("FileAccess", "“%1”%2。\n%3"), {path, reason, nothingChanged});
        }
        return FormatText(TrText("FileAccess", "“%1”%2：%3。\n%4"),
                          {path, reason, detail, nothingChanged});
    }
    // `action` holds the untranslated text (a KX_TRANSLATE_NOOP of this
    // context), so that callers and tests can compare it.
    const std::string doing = TrText("FileAccess", action.c_str());
    std::string m = detail.empty() ? FormatText(TrText("FileAccess", "“%1”：%2失败，%3。"),
                                                {path, doing, reason})
                                   : FormatText(TrText("FileAccess", "“%1”：%2失败，%3（%4）。"),
                                                {path, doing, reason, detail});
    if (originalKept) {
        m += TrText("FileAccess", "原文件未改动。");
    }
    return m;
}

FileError ReadWholeFile(const std::string& path, std::string& bytes, bool* missing,
                        std::size_t maxBytes) {
    bytes.clear();
    if (missing != nullptr) {
        *missing = false;
    }
    if (path.empty()) {
        return Fail(FileError::kInvalidName, KX_TRANSLATE_NOOP("FileAccess", "打开文件"), path);
    }
    // O_NONBLOCK: a pipe chosen by mistake must not hang the window.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        const int err = errno;
        if (err == ENOENT && missing != nullptr) {
            *missing = true;
        }
        return Fail(err, KX_TRANSLATE_NOOP("FileAccess", "打开文件"), path);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return Fail(errno, KX_TRANSLATE_NOOP("FileAccess", "读取文件"), path);
    }
    if (!S_ISREG(st.st_mode)) {
        return Fail(FileError::kNotRegular, KX_TRANSLATE_NOOP("FileAccess", "读取文件"), path);
    }
    if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
        return Fail(FileError::kTooLarge, KX_TRANSLATE_NOOP("FileAccess", "读取文件"), path);
    }
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    for (;;) {
        if (got == bytes.size()) {
            // The file may have grown since fstat: look for more, bounded.
            if (bytes.size() > maxBytes) {
                bytes.clear();
                return Fail(FileError::kTooLarge, KX_TRANSLATE_NOOP("FileAccess", "读取文件"),
                            path);
            }
            bytes.resize(got + 4096);
        }
        const ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int err = errno;
            bytes.clear();
            return Fail(err, KX_TRANSLATE_NOOP("FileAccess", "读取文件"), path);
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return {};
}

int RemoveStaleSaveFiles(const std::string& folder) {
    struct DirCloser {
        void operator()(DIR* d) const { ::closedir(d); }
    };
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) {
        return 0;
    }
    const int dirFd = ::dirfd(dir.get());
    const long long now = std::chrono::duration_cast<std::chrono::seconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
    int removed = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const char* name = entry->d_name;
        if (!IsSaveTempName(name)) {
            continue;
        }
        // Looked at before it is opened: opening a device can have effects.
        struct stat seen {};
        if (::fstatat(dirFd, name, &seen, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(seen.st_mode) ||
            now - static_cast<long long>(seen.st_mtim.tv_sec) <= kStaleSaveFileAge.count()) {
            continue;
        }
        Fd file(::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat opened {};
        if (file.get() < 0 || ::fstat(file.get(), &opened) != 0 || opened.st_ino != seen.st_ino ||
            opened.st_dev != seen.st_dev) {
            continue;
        }
        // A save still running holds the lock; nobody holds it once the
        // process that made the file is gone.
        if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
            continue;
        }
        struct stat again {};
        if (::fstatat(dirFd, name, &again, AT_SYMLINK_NOFOLLOW) == 0 &&
            again.st_ino == opened.st_ino && again.st_dev == opened.st_dev &&
            ::unlinkat(dirFd, name, 0) == 0) {
            ++removed;
        }
    }
    return removed;
}

FileError ReplaceFileContents(const std::string& path, std::string_view bytes,
                              const FileHooks* hooks) {
    if (path.empty()) {
        return Fail(FileError::kInvalidName, KX_TRANSLATE_NOOP("FileAccess", "保存"), path);
    }

    // A link is followed, so the file it names is replaced, not the link.
    std::string target = path;
    struct stat lst {};
    if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                         &std::free);
        if (real) {
            target = real.get();
        } else if (errno != ENOENT) {
            return Fail(errno, KX_TRANSLATE_NOOP("FileAccess", "打开文件"), path);
        }
        // A dangling link is replaced by the new file.
    }

    struct stat old {};
    bool exists = false;
    if (::stat(target.c_str(), &old) == 0) {
        exists = true;
        if (!S_ISREG(old.st_mode)) {
            return Kept(Fail(FileError::kNotRegular, KX_TRANSLATE_NOOP("FileAccess", "保存"), path),
                        true);
        }
        // A file that may not be written is not replaced behind its back,
        // even though the folder would allow the rename; nor is a read-only
        // one, which root could otherwise write.
        if ((old.st_mode & 0222) == 0) {
            return Kept(
                Fail(FileError::kReadOnlyFile, KX_TRANSLATE_NOOP("FileAccess", "保存"), path),
                true);
        }
        if (::access(target.c_str(), W_OK) != 0) {
            const int err = errno;
            return Kept(Fail(err == EROFS ? EROFS : FileError::kReadOnlyFile,
                             KX_TRANSLATE_NOOP("FileAccess", "保存"), path),
                        true);
        }
    } else if (errno != ENOENT) {
        return Fail(errno, KX_TRANSLATE_NOOP("FileAccess", "打开文件"), path);
    }

    const std::string dir = Dirname(target);
    const std::string base = Basename(target);
    RemoveStaleSaveFiles(dir);
    std::string temp;
    int rawFd = -1;
    for (unsigned attempt = 0; attempt < 16 && rawFd < 0; ++attempt) {
        temp = TempName(dir, base, attempt);
        rawFd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (rawFd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (rawFd < 0) {
        return Kept(
            Fail(errno, KX_TRANSLATE_NOOP("FileAccess", "在同一文件夹中创建临时文件"), path),
            exists);
    }
    Fd fd(rawFd);
    // The lock tells a later save that this file is in use. It belongs to
    // the open file, so the duplicate keeps it until the rename is done,
    // after the written descriptor is closed. Without it (a file system
    // without locks) the file's age alone keeps it for a while.
    (void)::flock(fd.get(), LOCK_EX | LOCK_NB);
    const Fd lock(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0));
    // From here on a failure removes the temporary file again.
    auto failWith = [&](int code, const char* action) {
        if (fd.get() >= 0) {
            fd.Close();
        }
        ::unlink(temp.c_str());
        return Kept(Fail(code, action, path), exists);
    };

    if (exists) {
        // The new file keeps the old one's permissions and, where allowed,
        // its owner. Neither is worth failing the save over: the content is
        // what must not be lost, and some file systems (FAT sticks) cannot
        // store either.
        struct stat now {};
        if (::fstat(fd.get(), &now) == 0) {
            // Without the privilege to give it away, the file becomes ours.
            const bool owned = now.st_uid == old.st_uid && now.st_gid == old.st_gid;
            if (!owned) {
                const int ignored = ::fchown(fd.get(), old.st_uid, old.st_gid);
                (void)ignored;
            }
            if ((now.st_mode & 07777) != (old.st_mode & 07777)) {
                (void)::fchmod(fd.get(), old.st_mode & 07777);
            }
        }
    }

    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = DoWrite(hooks, fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failWith(errno, KX_TRANSLATE_NOOP("FileAccess", "写入临时文件"));
        }
        if (n == 0) {
            return failWith(ENOSPC, KX_TRANSLATE_NOOP("FileAccess", "写入临时文件"));
        }
        done += static_cast<std::size_t>(n);
    }
    if (DoFsync(hooks, fd.get()) != 0) {
        return failWith(errno, KX_TRANSLATE_NOOP("FileAccess", "写入磁盘"));
    }
    if (fd.Close() != 0) {
        return failWith(errno, KX_TRANSLATE_NOOP("FileAccess", "写入临时文件"));
    }
    if (DoRename(hooks, temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return Kept(Fail(err, KX_TRANSLATE_NOOP("FileAccess", "替换原文件"), path), exists);
    }
    // Makes the rename itself durable; the file is complete either way.
    Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() >= 0) {
        (void)::fsync(dirFd.get());
    }
    return {};
}

}  // namespace kx
