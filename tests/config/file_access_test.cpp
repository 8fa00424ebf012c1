// SPDX-License-Identifier: MIT
#include "config/file_access.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace kx {
namespace {

using test::Backdate;
using test::ChildProcess;
using test::ReadWhole;
using test::RunUnprivileged;
using test::TempDir;
using test::WriteWhole;

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

class FileAccess : public ::testing::Test {
protected:
    // The names that are in the folder now and were not in `before`.
    std::vector<std::string> NewNames(const std::vector<std::string>& before) const {
        std::vector<std::string> now = dir.List();
        std::vector<std::string> added;
        std::set_difference(now.begin(), now.end(), before.begin(), before.end(),
                            std::back_inserter(added));
        return added;
    }
    // The temporary file a save killed half-way through writing `name`
    // leaves behind.
    std::string KilledSave(const std::string& name) {
        const std::vector<std::string> before = dir.List();
        EXPECT_TRUE(
            test::RunKilledWhileWriting(1000, [&] { ReplaceFileContents(dir / name, newText); }));
        const std::vector<std::string> left = NewNames(before);
        EXPECT_EQ(left.size(), 1u);
        return left.empty() ? std::string() : left.front();
    }

    TempDir dir;
    const std::string oldText = "[GLOBAL]\r\nCOL=1\r\n; the operator's own note\r\n";
    const std::string newText = std::string(200000, 'n') + "\r\n";
};

TEST_F(FileAccess, ReplacesTheWholeFileAndLeavesNothingBehind) {
    const std::string path = dir / "a.ini";
    WriteWhole(path, oldText);
    ASSERT_FALSE(ReplaceFileContents(path, newText));
    EXPECT_EQ(ReadWhole(path), newText);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"a.ini"});
}

TEST_F(FileAccess, ASaveThatFailsBeforeTheRenameLeavesTheOldFileWhole) {
    const std::string path = dir / "a.ini";
    struct Step {
        const char* what;
        FileHooks hooks;
        int code;
        const char* text;
    };
    bool sawCompleteTemp = false;
    std::vector<Step> steps;

    FileHooks fullDisk;
    fullDisk.write = [calls = 0](int fd, const void* data, std::size_t size) mutable -> ssize_t {
        if (calls++ == 0) {
            return ::write(fd, data, size / 2);  // half goes in, then the disk is full
        }
        errno = ENOSPC;
        return -1;
    };
    steps.push_back(
        {"disk full while writing", fullDisk, ENOSPC, "写入临时文件失败，磁盘空间不足"});

    FileHooks flush;
    flush.fsync = [](int) {
        errno = EIO;
        return -1;
    };
    steps.push_back({"flush to disk fails", flush, EIO, "写入磁盘失败，读写设备出错"});

    // The moment a crash would hit: the new file is complete and flushed,
    // the old one not yet replaced.
    FileHooks rename;
    rename.rename = [&](const char* from, const char* to) {
        EXPECT_EQ(ReadWhole(from), newText);
        EXPECT_EQ(ReadWhole(to), oldText);
        EXPECT_EQ(std::string(to), path);
        EXPECT_EQ(std::string(from).rfind(dir.path().string() + "/", 0), 0u);  // same folder
        sawCompleteTemp = true;
        errno = EIO;
        return -1;
    };
    steps.push_back({"rename fails", rename, EIO, "替换原文件失败，读写设备出错"});

    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        WriteWhole(path, oldText);
        const FileError error = ReplaceFileContents(path, newText, &s.hooks);
        ASSERT_TRUE(error);
        EXPECT_EQ(error.code, s.code);
        EXPECT_TRUE(error.originalKept);
        EXPECT_EQ(error.path, path);
        const std::string message = error.Message();
        EXPECT_NE(message.find(s.text), std::string::npos) << message;
        EXPECT_NE(message.find("原文件未改动"), std::string::npos) << message;
        EXPECT_EQ(ReadWhole(path), oldText);
        EXPECT_EQ(dir.List(), std::vector<std::string>{"a.ini"});  // no temporary file left
    }
    EXPECT_TRUE(sawCompleteTemp);
}

TEST_F(FileAccess, ASaveIntoAReadOnlyFolderFailsWithAReason) {
    const std::string folder = dir / "locked";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::string existing = folder + "/old.ini";
    WriteWhole(existing, oldText);
    ASSERT_EQ(::chmod(existing.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);

    for (const std::string& path : {existing, folder + "/new.ini"}) {
        SCOPED_TRACE(path);
        const auto message = RunUnprivileged([&] {
            const FileError error = ReplaceFileContents(path, newText);
            return error ? std::to_string(error.code) + " " + error.Message() : "saved";
        });
        if (!message) {
            GTEST_SKIP() << "cannot act as an unprivileged user here";
        }
        EXPECT_EQ(message->rfind(std::to_string(EACCES) + " ", 0), 0u) << *message;
        EXPECT_NE(message->find("创建临时文件失败，没有访问权限"), std::string::npos) << *message;
        EXPECT_NE(message->find(path), std::string::npos) << *message;
    }
    EXPECT_EQ(ReadWhole(existing), oldText);
    EXPECT_EQ(dir.List(folder), std::vector<std::string>{"old.ini"});
}

TEST_F(FileAccess, AReadOnlyFileIsNotReplacedBehindItsBack) {
    const std::string path = dir / "ro.ini";
    WriteWhole(path, oldText);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    const auto message = RunUnprivileged([&] {
        const FileError error = ReplaceFileContents(path, newText);
        return error ? std::to_string(error.code) + " " + error.Message() : "saved";
    });
    if (!message) {
        GTEST_SKIP() << "cannot act as an unprivileged user here";
    }
    EXPECT_EQ(message->rfind(std::to_string(FileError::kReadOnlyFile) + " ", 0), 0u) << *message;
    EXPECT_NE(message->find("文件为只读"), std::string::npos) << *message;
    EXPECT_EQ(ReadWhole(path), oldText);
    EXPECT_EQ(ModeOf(path), 0444u);
}

// Any save into a folder first removes what killed saves left there: their
// temporary files, once unlocked and older than kStaleSaveFileAge, of any
// file (a configuration, the raw data). It leaves a save's file still in use
// in another process, a file too recent to judge, and other programs' files
// of similar names.
TEST_F(FileAccess, ASaveRemovesTheRemainsOfKilledSavesAndNothingElse) {
    const long old = kStaleSaveFileAge.count() + 60;
    const std::string staleConfig = KilledSave("a.ini");
    const std::string staleRawData = KilledSave("rawdata.csv");
    const std::string recent = KilledSave("a.ini");
    ASSERT_EQ(dir.List().size(), 3u);
    EXPECT_EQ(staleConfig.rfind(".a.ini.", 0), 0u) << staleConfig;
    Backdate(dir.path() / staleConfig, old);
    Backdate(dir.path() / staleRawData, old);

    // Foreign files, as old: names that are like a save's but not one, and
    // things of a save's name that are not a file.
    const std::vector<std::string> foreignFiles = {
        "a.ini.tmp",      ".a.ini.tmp",          ".a.ini.4711.tmp",        ".a.ini.1-2-3.tmp",
        "..1-2-3-4.tmp",  ".a.ini.1-2-xy-4.tmp", ".a.ini.1-2-3-4.tmp.swp", "a.ini.1-2-3-4.tmp",
        "rawdata.csv.tmp"};
    for (const std::string& name : foreignFiles) {
        WriteWhole(dir.path() / name, oldText);
        Backdate(dir.path() / name, old);
    }
    const std::string link = ".b.ini.1-2-3-4.tmp";
    ASSERT_EQ(::symlink("a.ini.tmp", (dir / link).c_str()), 0);
    const std::string folder = ".c.ini.1-2-3-4.tmp";
    ASSERT_EQ(::mkdir((dir / folder).c_str(), 0755), 0);
    const std::string fifo = ".d.ini.1-2-3-4.tmp";
    ASSERT_EQ(::mkfifo((dir / fifo).c_str(), 0666), 0);
    for (const std::string& name : {link, folder, fifo}) {
        Backdate(dir.path() / name, old);
    }

    // A save in another process that stops half-way, its file made old.
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    std::vector<std::string> before = dir.List();
    ChildProcess running([&] {
        FileHooks hooks;
        hooks.write = [&, first = true](int fd, const void* data, std::size_t size) mutable {
            const ssize_t n = ::write(fd, data, first ? size / 2 : size);
            if (first) {
                first = false;
                char c = 'r';
                if (::write(ready[1], &c, 1) != 1 || ::read(release[0], &c, 1) != 1) {
                    ::_exit(5);
                }
            }
            return n;
        };
        const FileError error = ReplaceFileContents(dir / "live.ini", newText, &hooks);
        return error ? error.Message() : "saved";
    });
    ASSERT_TRUE(test::WaitReadable(ready[0], std::chrono::seconds(30)));
    const std::vector<std::string> live = NewNames(before);
    ASSERT_EQ(live.size(), 1u);
    Backdate(dir.path() / live.front(), old);

    ASSERT_FALSE(ReplaceFileContents(dir / "b.ini", oldText));
    std::vector<std::string> expected = foreignFiles;
    expected.insert(expected.end(), {link, folder, fifo, recent, live.front(), "b.ini"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dir.List(), expected);
    EXPECT_EQ(ReadWhole(dir.path() / ".a.ini.1-2-3-4.tmp.swp"), oldText);

    // The running save finishes as if nothing had happened.
    ASSERT_EQ(::write(release[1], "g", 1), 1);
    EXPECT_EQ(running.Wait(), "saved");
    EXPECT_EQ(ReadWhole(dir / "live.ini"), newText);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) {
        ::close(fd);
    }

    // Once old enough, the recent one goes with the next save too.
    Backdate(dir.path() / recent, old);
    ASSERT_FALSE(ReplaceFileContents(dir / "b.ini", newText));
    const std::vector<std::string> after = dir.List();
    EXPECT_EQ(std::count(after.begin(), after.end(), recent), 0);
}

// Read-only is read-only, also to root, who could write the file all the same.
TEST_F(FileAccess, AReadOnlyFileIsRefusedWhoeverSaves) {
    const std::string path = dir / "ro.ini";
    WriteWhole(path, oldText);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    const FileError error = ReplaceFileContents(path, newText);
    EXPECT_EQ(error.code, FileError::kReadOnlyFile);
    EXPECT_TRUE(error.originalKept);
    EXPECT_EQ(ReadWhole(path), oldText);
    EXPECT_EQ(ModeOf(path), 0444u);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"ro.ini"});
}

TEST_F(FileAccess, TheNewFileKeepsTheOldPermissions) {
    const std::string path = dir / "perm.ini";
    WriteWhole(path, oldText);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_FALSE(ReplaceFileContents(path, newText));
    EXPECT_EQ(ModeOf(path), 0640u);

    // A new file: 0666 less the umask, as any program would create it.
    const mode_t previous = ::umask(027);
    const std::string fresh = dir / "fresh.ini";
    const FileError error = ReplaceFileContents(fresh, newText);
    ::umask(previous);
    ASSERT_FALSE(error);
    EXPECT_EQ(ModeOf(fresh), 0640u);
}

TEST_F(FileAccess, ALinkIsFollowedAndStaysALink) {
    const std::string target = dir / "real.ini";
    const std::string link = dir / "link.ini";
    WriteWhole(target, oldText);
    ASSERT_EQ(::symlink("real.ini", link.c_str()), 0);
    ASSERT_FALSE(ReplaceFileContents(link, newText));
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadWhole(target), newText);
}

TEST_F(FileAccess, AMissingFolderIsReported) {
    const std::string path = dir / "no/such/folder/a.ini";
    const FileError error = ReplaceFileContents(path, newText);
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_NE(error.Message().find("文件或文件夹不存在"), std::string::npos) << error.Message();
    EXPECT_FALSE(error.originalKept);  // there was none

    std::string bytes = "left over";
    bool missing = false;
    const FileError read = ReadWholeFile(path, bytes, &missing);
    EXPECT_EQ(read.code, ENOENT);
    EXPECT_TRUE(missing);
    EXPECT_TRUE(bytes.empty());
}

}  // namespace
}  // namespace kx
