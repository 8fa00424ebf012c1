// SPDX-License-Identifier: MIT
// kaldrix-records run as a program: a table of command lines against a
// database this test writes, with what each prints and its exit code. The
// program runs in the time zone UTC+8 (a POSIX zone, no zone files needed),
// as a station in that zone would.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "records/record_export.h"
#include "records/record_store.h"
#include "tests/records/record_fixture.h"
#include "tests/support/temp_dir.h"

namespace kx {
namespace {

struct ToolRun {
    int exitCode = -1;  // -1: killed or not started
    std::string out;
    std::string err;
};

// Runs the tool with `args` and the environment `env`, at most 30 s.
ToolRun RunTool(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    ToolRun run;
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        return run;
    }
    std::vector<std::string> argStrings = {KX_RECORDS_TOOL};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv, envp;
    for (auto& a : argStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envStrings = env;
    // The sanitizers' settings of the test run, for the program too.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
        if (const char* v = ::getenv(name)) {
            envStrings.push_back(std::string(name) + "=" + v);
        }
    }
    for (auto& e : envStrings) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || ::poll(fds, 2, static_cast<int>(left)) <= 0) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && fds[i].revents != 0) {
                char buf[65536];
                const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
                if (n > 0) {
                    sinks[i]->append(buf, static_cast<std::size_t>(n));
                } else if (n == 0 || errno != EINTR) {
                    ::close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
    }
    for (const pollfd& f : fds) {
        if (f.fd >= 0) {
            ::close(f.fd);
        }
    }
    int status = 0;
    if (open > 0) {
        ::kill(pid, SIGKILL);
    }
    ::waitpid(pid, &status, 0);
    if (open == 0 && WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    }
    return run;
}

// 2026-12-11 00:00:00 UTC, 08:00 at the station (UTC+8).
constexpr std::int64_t kDec11Utc = 1796947200000;

TestRecord At(int sequence, std::int64_t utcMs, int page, int row, int column, bool pass) {
    TestRecord r = test::SequenceRecord(static_cast<std::uint64_t>(sequence));
    r.timeMs = utcMs;
    r.utcOffsetMinutes = 480;
    r.startMs = utcMs - 3000;
    r.page = page;
    r.row = row;
    r.column = column;
    r.verdict = pass ? RecordVerdict::Pass : RecordVerdict::Fail;
    return r;
}

// Local (UTC+8) times: 12-10 23:30, 12-11 08:00, 08:30, 09:00:30, 12-12 00:00.
std::vector<TestRecord> Records() {
    return {
        At(1, kDec11Utc - 30'600'000, 0, 1, 1, true),  At(2, kDec11Utc, 0, 1, 1, true),
        At(3, kDec11Utc + 1'800'000, 0, 1, 2, false),  At(4, kDec11Utc + 3'630'000, 0, 1, 1, true),
        At(5, kDec11Utc + 57'600'000, 1, 1, 1, false),
    };
}

std::string Csv(const std::vector<int>& which) {
    const auto records = Records();
    std::string s = CsvHeader();
    for (int i : which) {
        s += CsvLine(records[static_cast<std::size_t>(i - 1)]);
    }
    return s;
}

std::string Jsonl(const std::vector<int>& which) {
    const auto records = Records();
    std::string s;
    for (int i : which) {
        s += JsonLine(records[static_cast<std::size_t>(i - 1)]);
    }
    return s;
}

class RecordTool : public testing::Test {
protected:
    void SetUp() override {
        std::string error;
        auto store = RecordStore::Open(db_, RecordStore::Mode::ReadWrite, &error);
        ASSERT_TRUE(store) << error;
        const auto records = Records();
        ASSERT_TRUE(store->Insert(records, &error)) << error;
        test::WriteWhole(dir_.path() / "not-a-db", "this is not a database\n");
    }

    ToolRun Run(std::vector<std::string> args) {
        for (auto& a : args) {
            if (a == "DB") {
                a = db_;
            } else if (a.ends_with("=DB")) {
                a = a.substr(0, a.size() - 2) + db_;
            } else if (a.rfind("DIR/", 0) == 0) {
                a = dir_ / a.substr(4);
            }
        }
        return RunTool(args, {"TZ=CST-8", "LANG=C.UTF-8", "HOME=" + (dir_ / "home"),
                              "XDG_DATA_HOME=" + (dir_ / "data")});
    }

    test::TempDir dir_;
    std::string db_ = dir_ / "records.db";
};

TEST_F(RecordTool, CommandLinesAndWhatTheyPrint) {
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string out;      // the whole standard output ("*": not checked)
        std::string errPart;  // found in the standard error ("": nothing checked)
    };
    const Case cases[] = {
        // Wrong command lines: 2, a message, nothing on the standard output.
        {{}, 2, "", "缺少命令"},
        {{"import"}, 2, "", "未知命令：import"},
        {{"export", "--db", "DB"}, 2, "", "export 需要 --since"},
        {{"export", "--since"}, 2, "", "--since 缺少值"},
        {{"export", "--since", "2026-13-01"}, 2, "", "日期无效：2026-13-01"},
        {{"export", "--since", "2026-02-29"}, 2, "", "日期无效"},  // not a leap year
        {{"export", "--since", "2026-12-11T24:00"}, 2, "", "日期无效"},
        {{"export", "--since", "2026-12-11T08:00:60"}, 2, "", "日期无效"},
        {{"export", "--since", "2026-12-11T08"}, 2, "", "日期无效"},
        {{"export", "--since", "11/12/2026"}, 2, "", "日期无效"},
        {{"export", "--since", "2026-12-11", "--since", "2026-12-10"}, 2, "", "--since 重复"},
        {{"export", "--since", "2026-12-11", "--format", "xml"}, 2, "", "未知格式：xml"},
        {{"export", "--since", "2026-12-11", "--by", "day"}, 2, "", "不认识的参数：--by"},
        {{"export", "--since", "2026-12-11", "--until", "2026-12-10"}, 2, "", "必须晚于"},
        {{"summary", "--by", "week"}, 2, "", "未知分组：week"},
        {{"summary", "--output", "DIR/x"}, 2, "", "不认识的参数：--output"},
        {{"summary", "extra"}, 2, "", "不认识的参数：extra"},
        // The database cannot be read: 1, its path named.
        {{"export", "--since", "2026-12-11", "--db", "DIR/none/records.db"},
         1,
         "",
         "none/records.db"},
        {{"summary", "--db", "DIR/not-a-db"}, 1, "", "not-a-db"},
        // The default database ($XDG_DATA_HOME) does not exist here.
        {{"summary"}, 1, "", "data/kaldrixplus/records.db"},
        // Exports: --since taken, --until not; a bare --until date takes its
        // whole day.
        {{"export", "--since", "2026-12-11", "--db", "DB"}, 0, Csv({2, 3, 4, 5}), "已导出 4 条"},
        {{"export", "--since=2026-12-10", "--until=2026-12-11", "--db=DB"},
         0,
         Csv({1, 2, 3, 4}),
         ""},
        {{"export", "--db", "DB", "--since", "2026-12-11T08:00", "--until", "2026-12-11T09:00:30",
          "--format", "jsonl"},
         0,
         Jsonl({2, 3}),
         ""},
        {{"export", "--db", "DB", "--since", "2026-12-11 08:00:01", "--format", "jsonl"},
         0,
         Jsonl({3, 4, 5}),
         ""},
        {{"export", "--db", "DB", "--since", "2027-01-01"}, 0, CsvHeader(), "已导出 0 条"},
        // Summaries: in all, per day, per head; the yield with one decimal.
        {{"summary", "--db", "DB"},
         0,
         "           测试       通过       失败     良率\n"
         "合计          5          3          2    60.0%\n",
         ""},
        {{"summary", "--by", "day", "--db", "DB"},
         0,
         "日期             测试       通过       失败     良率\n"
         "2026-12-10          1          1          0   100.0%\n"
         "2026-12-11          3          2          1    66.7%\n"
         "2026-12-12          1          0          1     0.0%\n"
         "合计                5          3          2    60.0%\n",
         ""},
        {{"summary", "--by", "head", "--since", "2026-12-11", "--db", "DB"},
         0,
         "测试头       测试       通过       失败     良率\n"
         "0:1,1           2          2          0   100.0%\n"
         "0:1,2           1          0          1     0.0%\n"
         "1:1,1           1          0          1     0.0%\n"
         "合计            4          2          2    50.0%\n",
         ""},
        {{"summary", "--since", "2027-01-01", "--db", "DB"},
         0,
         "           测试       通过       失败     良率\n"
         "合计          0          0          0        -\n",
         ""},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& a : c.args) {
            line += a + " ";
        }
        SCOPED_TRACE(line);
        const ToolRun run = Run(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        if (c.out != "*") {
            EXPECT_EQ(run.out, c.out);
        }
        EXPECT_NE(run.err.find(c.errPart), std::string::npos) << run.err;
        if (c.exitCode == 2) {
            EXPECT_NE(run.err.find("--help"), std::string::npos) << run.err;
        }
    }
    // Read-only: neither a missing database nor its folder was made.
    EXPECT_FALSE(std::filesystem::exists(dir_ / "none"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "data"));
}

TEST_F(RecordTool, HelpAndExportToAFile) {
    for (const auto& args :
         {std::vector<std::string>{"--help"}, std::vector<std::string>{"export", "--help"}}) {
        const ToolRun help = Run(args);
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_NE(help.out.find("kaldrix-records export --since"), std::string::npos);
        EXPECT_NE(help.out.find("kaldrix-records summary"), std::string::npos);
    }

    const std::string out = dir_ / "导出 12月.jsonl";
    const ToolRun run = Run(
        {"export", "--since", "2026-12-11", "--format", "jsonl", "--db", "DB", "--output", out});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(test::ReadWhole(out), Jsonl({2, 3, 4, 5}));

    // Into a folder that does not exist: 1, and nothing written anywhere.
    const auto before = dir_.List();
    const ToolRun bad =
        Run({"export", "--since", "2026-12-11", "--db", "DB", "--output", "DIR/missing/out.csv"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find("missing/out.csv"), std::string::npos) << bad.err;
    EXPECT_EQ(dir_.List(), before);
}

}  // namespace
}  // namespace kx
