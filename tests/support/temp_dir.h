// SPDX-License-Identifier: MIT
#pragma once

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/child_process.h"

namespace kx::test {

// A fresh folder under the system's temporary folder, removed with
// everything in it at the end of the scope. It is open to every user, so
// that a test can act in it as an unprivileged user (RunUnprivileged).
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kx-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
        ::chmod(path_.c_str(), 0777);
    }
    ~TempDir() {
        namespace fs = std::filesystem;
        std::error_code ec;
        // Folders a test made read-only must become writable (and readable,
        // to be walked) before their entries can be removed.
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        for (auto it = fs::recursive_directory_iterator(path_, ec);
             it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec)) {
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
            }
        }
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // The path of `name` in the folder, for the interfaces that take a string.
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

    // Names of the entries in the folder (or in a subfolder), sorted.
    std::vector<std::string> List(const std::filesystem::path& sub = {}) const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(sub.empty() ? path_ : sub)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path path_;
};

inline std::string ReadWhole(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + file.string());
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteWhole(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

// `ascii` as UTF-16 text, little- or big-endian, with or without a
// byte-order mark.
inline std::string Utf16(std::string_view ascii, bool bigEndian, bool byteOrderMark) {
    std::string bytes = byteOrderMark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
    for (const char c : ascii) {
        bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    }
    return bytes;
}

// Sets the modification time of `path` (not of what a link points to) to
// `seconds` ago.
inline void Backdate(const std::filesystem::path& path, long seconds) {
    timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        throw std::runtime_error("cannot backdate " + path.string());
    }
}

// Takes away, for the calling thread and the scope, the capabilities that let
// root write into any folder, so that a read-only folder is read-only for the
// test whoever runs it. Does nothing for other users, who lack them anyway.
class ScopedNoDacOverride {
public:
    ScopedNoDacOverride() {
        if (::syscall(SYS_capget, &header_, saved_) != 0) {
            return;
        }
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        changed_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~ScopedNoDacOverride() {
        if (changed_) {
            ::syscall(SYS_capset, &header_, saved_);
        }
    }
    ScopedNoDacOverride(const ScopedNoDacOverride&) = delete;
    ScopedNoDacOverride& operator=(const ScopedNoDacOverride&) = delete;

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool changed_ = false;
};

// True when the calling thread can create a file in `folder`.
inline bool CanCreateIn(const std::filesystem::path& folder) {
    const std::filesystem::path probe = folder / ".probe";
    std::ofstream out(probe);
    const bool ok = static_cast<bool>(out);
    out.close();
    std::error_code ec;
    std::filesystem::remove(probe, ec);
    return ok;
}

}  // namespace kx::test
