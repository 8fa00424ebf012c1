#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kx::test {

// A fresh folder under the system's temporary folder, removed with
// everything in it (made writable again first) at the end of the scope.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kx-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~TempDir() {
        std::error_code ec;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ec)) {
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        }
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::string ReadWhole(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteWhole(const std::filesystem::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
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
