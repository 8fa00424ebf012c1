#include "config/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <system_error>

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

// A name in `dir` that no other save (of this or another process) uses.
std::string TempName(const std::string& dir, const std::string& base, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    char tag[64];
    std::snprintf(tag, sizeof tag, "%ld-%u-%x-%u", static_cast<long>(::getpid()),
                  counter.fetch_add(1), static_cast<unsigned>(now), attempt);
    // Keeps the temporary name within NAME_MAX even for a long file name.
    const std::string stem = base.substr(0, 160);
    return (dir == "/" ? "" : dir) + "/." + stem + "." + tag + ".tmp";
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
            return "成功";
        case FileError::kTooLarge:
            return "文件过大，不是配置文件";
        case FileError::kNotRegular:
            return "不是普通文件";
        case FileError::kReadOnlyFile:
            return "文件为只读";
        case FileError::kUtf16:
            return "文件为 UTF-16 编码，请另存为 UTF-8 或 ANSI 编码后再使用";
        case FileError::kInvalidName:
            return "没有文件名";
        case FileError::kNotConfig:
            return "不是配置文件";
        case FileError::kLegacyConfig:
            return "是老版本的配置文件，请用“文件”菜单中的“老版本配置载入”载入";
        case FileError::kNotLegacyConfig:
            return "不是老版本的配置文件";
        case FileError::kNewConfig:
            return "是新版本的配置文件，请用“文件”菜单中的“载入”载入";
        case FileError::kIncompleteConfig:
            return "不完整，可能被截断或改动过";
        case FileError::kNoHeads:
            return "中的布局没有测试头";
        case ENOENT:
            return "文件或文件夹不存在";
        case EACCES:
        case EPERM:
            return "没有访问权限";
        case EROFS:
            return "文件系统为只读";
        case ENOSPC:
            return "磁盘空间不足";
        case EDQUOT:
            return "超出磁盘配额";
        case EIO:
            return "读写设备出错";
        case EISDIR:
            return "这是一个文件夹";
        case ENOTDIR:
            return "路径中有一项不是文件夹";
        case ENAMETOOLONG:
            return "文件名过长";
        case EMFILE:
        case ENFILE:
            return "打开的文件过多";
        case EFBIG:
            return "文件过大";
        case ELOOP:
            return "符号链接层数过多";
        default:
            return "系统错误 " + std::to_string(code);
    }
}

std::string FileError::Message() const {
    if (ContentRefused()) {
        std::string m = "“" + path + "”" + FileErrorReason(code);
        if (!detail.empty()) {
            m += "：" + detail;
        }
        return m + "。\n" + kNothingChangedText;
    }
    std::string m = "“" + path + "”：" + action + "失败，" + FileErrorReason(code);
    if (!detail.empty()) {
        m += "（" + detail + "）";
    }
    m += "。";
    if (originalKept) {
        m += "原文件未改动。";
    }
    return m;
}

FileError ReadWholeFile(const std::string& path, std::string& bytes, bool* missing) {
    bytes.clear();
    if (missing != nullptr) {
        *missing = false;
    }
    if (path.empty()) {
        return Fail(FileError::kInvalidName, "打开文件", path);
    }
    // O_NONBLOCK: a pipe chosen by mistake must not hang the window.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        const int err = errno;
        if (err == ENOENT && missing != nullptr) {
            *missing = true;
        }
        return Fail(err, "打开文件", path);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return Fail(errno, "读取文件", path);
    }
    if (!S_ISREG(st.st_mode)) {
        return Fail(FileError::kNotRegular, "读取文件", path);
    }
    if (static_cast<unsigned long long>(st.st_size) > kMaxConfigFileBytes) {
        return Fail(FileError::kTooLarge, "读取文件", path);
    }
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    for (;;) {
        if (got == bytes.size()) {
            // The file may have grown since fstat: look for more, bounded.
            if (bytes.size() > kMaxConfigFileBytes) {
                bytes.clear();
                return Fail(FileError::kTooLarge, "读取文件", path);
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
            return Fail(err, "读取文件", path);
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return {};
}

FileError ReplaceFileContents(const std::string& path, std::string_view bytes,
                              const FileHooks* hooks) {
    if (path.empty()) {
        return Fail(FileError::kInvalidName, "保存", path);
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
            return Fail(errno, "打开文件", path);
        }
        // A dangling link is replaced by the new file.
    }

    struct stat old {};
    bool exists = false;
    if (::stat(target.c_str(), &old) == 0) {
        exists = true;
        if (!S_ISREG(old.st_mode)) {
            return Kept(Fail(FileError::kNotRegular, "保存", path), true);
        }
        // A file that may not be written is not replaced behind its back,
        // even though the folder would allow the rename.
        if (::access(target.c_str(), W_OK) != 0) {
            const int err = errno;
            return Kept(Fail(err == EROFS ? EROFS : FileError::kReadOnlyFile, "保存", path), true);
        }
    } else if (errno != ENOENT) {
        return Fail(errno, "打开文件", path);
    }

    const std::string dir = Dirname(target);
    const std::string base = Basename(target);
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
        return Kept(Fail(errno, "在同一文件夹中创建临时文件", path), exists);
    }
    Fd fd(rawFd);
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
            return failWith(errno, "写入临时文件");
        }
        if (n == 0) {
            return failWith(ENOSPC, "写入临时文件");
        }
        done += static_cast<std::size_t>(n);
    }
    if (DoFsync(hooks, fd.get()) != 0) {
        return failWith(errno, "写入磁盘");
    }
    if (fd.Close() != 0) {
        return failWith(errno, "写入临时文件");
    }
    if (DoRename(hooks, temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return Kept(Fail(err, "替换原文件", path), exists);
    }
    // Makes the rename itself durable; the file is complete either way.
    Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() >= 0) {
        (void)::fsync(dirFd.get());
    }
    return {};
}

}  // namespace kx
