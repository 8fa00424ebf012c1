// SPDX-License-Identifier: MIT
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "config/config_file.h"

namespace kx::bench {

// 8 x 8 heads: every page of the table in use.
inline constexpr ConfigGlobals kFullLayout{0, 8, 8};

// The configuration file of a full table, 8 x 8 heads and 64 pages, in a
// fresh folder under $TMPDIR (or /tmp) that goes with it. The folder is made
// at once; Write() makes the file. Flush times depend on the disk behind
// the folder.
class FullConfigFile {
public:
    FullConfigFile() {
        const char* tmp = std::getenv("TMPDIR");
        std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/kx_config_bench_XXXXXX";
        if (::mkdtemp(name.data()) == nullptr) {
            std::abort();
        }
        dir_ = name;
        path_ = dir_ + "/full.ini";
    }
    ~FullConfigFile() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    FullConfigFile(const FullConfigFile&) = delete;
    FullConfigFile& operator=(const FullConfigFile&) = delete;

    const std::string& path() const { return path_; }

    // Saves `table` as the file, as the save command does.
    FileError Write(const PageTable& table, const ConfigGlobals& globals = kFullLayout) const {
        return SaveConfig(path_, globals, table);
    }

private:
    std::string dir_;
    std::string path_;
};

}  // namespace kx::bench
