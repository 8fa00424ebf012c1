// SPDX-License-Identifier: MIT
// Command-line tool over the station's test records: exports a time range
// as CSV or JSON Lines, and counts tested, passed and failed panels with
// their yield, in all, per day or per head. It opens the database read-only,
// so it may run beside a station that is testing. No Qt.
//
// Exit codes: 0 done, 1 the database or the output failed, 2 the command
// line is wrong.

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/record_export.h"
#include "records/record_store.h"

namespace {

constexpr int kExitDatabase = 1;
constexpr int kExitUsage = 2;

constexpr const char* kHelp =
    "用法：\n"
    "  kaldrix-records export --since 日期 [--until 日期] [--format csv|jsonl]\n"
    "                         [--db 路径] [--output 文件]\n"
    "  kaldrix-records summary [--by day|head] [--since 日期] [--until 日期] [--db 路径]\n"
    "  kaldrix-records --help\n"
    "\n"
    "export   导出测试记录（从旧到新）。csv：UTF-8 带 BOM，CRLF 行尾；jsonl：每行一个 JSON\n"
    "         对象。默认 csv，默认输出到标准输出；--output 写入文件（先写临时文件，完成后\n"
    "         改名，失败时不留下文件）。\n"
    "summary  统计测试数、通过数、失败数和良率；--by day 按天（测试站当地日期），\n"
    "         --by head 按测试头（页:行,列），默认只给总计。\n"
    "\n"
    "日期：YYYY-MM-DD 或 YYYY-MM-DDTHH:MM[:SS]，本地时间。--since 包含该时刻；--until\n"
    "不包含该时刻，只写日期时包含当天全天。\n"
    "--db 默认为 $XDG_DATA_HOME/kaldrixplus/records.db（未设置时为\n"
    "~/.local/share/kaldrixplus/records.db）。数据库以只读方式打开。\n"
    "\n"
    "退出码：0 成功，1 数据库或输出错误，2 命令行错误。\n";

int Usage(const std::string& message) {
    std::fprintf(stderr, "kaldrix-records：%s\n请用 kaldrix-records --help 查看用法。\n",
                 message.c_str());
    return kExitUsage;
}

// Digits only, exactly `n` of them, from `s[pos]`.
std::optional<int> Digits(std::string_view s, std::size_t pos, std::size_t n) {
    if (pos + n > s.size()) {
        return std::nullopt;
    }
    int v = 0;
    for (std::size_t i = pos; i < pos + n; ++i) {
        if (s[i] < '0' || s[i] > '9') {
            return std::nullopt;
        }
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

bool LeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// A local date or time as UTC milliseconds. `endOfDay`: a bare date means
// the end of that day (the next day's start), so that "--until 2026-12-11"
// takes the whole day.
std::optional<std::int64_t> ParseLocalTime(std::string_view text, bool endOfDay) {
    const auto year = Digits(text, 0, 4);
    const auto month = Digits(text, 5, 2);
    const auto day = Digits(text, 8, 2);
    if (!year || !month || !day || text[4] != '-' || text[7] != '-' || *year < 1970 || *month < 1 ||
        *month > 12) {
        return std::nullopt;
    }
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int days = kDays[*month - 1] + (*month == 2 && LeapYear(*year) ? 1 : 0);
    if (*day < 1 || *day > days) {
        return std::nullopt;
    }
    int hour = 0, minute = 0, second = 0;
    const bool dateOnly = text.size() == 10;
    if (!dateOnly) {
        const auto h = Digits(text, 11, 2);
        const auto m = Digits(text, 14, 2);
        if ((text.size() != 16 && text.size() != 19) || (text[10] != 'T' && text[10] != ' ') ||
            text[13] != ':' || !h || !m || *h > 23 || *m > 59) {
            return std::nullopt;
        }
        hour = *h;
        minute = *m;
        if (text.size() == 19) {
            const auto s = Digits(text, 17, 2);
            if (text[16] != ':' || !s || *s > 59) {
                return std::nullopt;
            }
            second = *s;
        }
    }
    std::tm tm{};
    tm.tm_year = *year - 1900;
    tm.tm_mon = *month - 1;
    tm.tm_mday = *day + (dateOnly && endOfDay ? 1 : 0);  // mktime carries it over
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    errno = 0;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1) && errno != 0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(t) * 1000;
}

struct Options {
    std::string command;
    std::optional<std::int64_t> since;
    std::optional<std::int64_t> until;
    kx::ExportFormat format = kx::ExportFormat::Csv;
    kx::SummaryBy by = kx::SummaryBy::Total;
    std::string db;
    std::string output;
    bool help = false;
};

// Parses the command line; an error message when it is wrong.
std::optional<std::string> Parse(int argc, char** argv, Options& o) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    std::size_t i = 0;
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        o.help = true;
        return std::nullopt;
    }
    if (args.empty()) {
        return "缺少命令（export 或 summary）";
    }
    o.command = std::string(args[i++]);
    if (o.command != "export" && o.command != "summary") {
        return "未知命令：" + o.command;
    }
    bool seenFormat = false, seenBy = false, seenDb = false, seenOutput = false;
    bool seenSince = false, seenUntil = false;
    while (i < args.size()) {
        std::string_view arg = args[i++];
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            return std::nullopt;
        }
        std::string_view name = arg;
        std::optional<std::string_view> value;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        const bool isExport = o.command == "export";
        const bool known = name == "--since" || name == "--until" || name == "--db" ||
                           (isExport && (name == "--format" || name == "--output")) ||
                           (!isExport && name == "--by");
        if (!known) {
            return "命令 " + o.command + " 不认识的参数：" + std::string(arg);
        }
        if (!value) {
            if (i >= args.size()) {
                return std::string(name) + " 缺少值";
            }
            value = args[i++];
        }
        const auto once = [&](bool& seen) {
            const bool first = !seen;
            seen = true;
            return first;
        };
        const std::string v(*value);
        if (name == "--since" || name == "--until") {
            const bool until = name == "--until";
            if (!once(until ? seenUntil : seenSince)) {
                return std::string(name) + " 重复";
            }
            const auto ms = ParseLocalTime(v, until);
            if (!ms) {
                return "日期无效：" + v + "（应为 YYYY-MM-DD 或 YYYY-MM-DDTHH:MM[:SS]）";
            }
            (until ? o.until : o.since) = *ms;
        } else if (name == "--format") {
            if (!once(seenFormat)) {
                return "--format 重复";
            }
            if (v == "csv") {
                o.format = kx::ExportFormat::Csv;
            } else if (v == "jsonl") {
                o.format = kx::ExportFormat::Jsonl;
            } else {
                return "未知格式：" + v + "（csv 或 jsonl）";
            }
        } else if (name == "--by") {
            if (!once(seenBy)) {
                return "--by 重复";
            }
            if (v == "day") {
                o.by = kx::SummaryBy::Day;
            } else if (v == "head") {
                o.by = kx::SummaryBy::Head;
            } else {
                return "未知分组：" + v + "（day 或 head）";
            }
        } else if (name == "--db" || name == "--output") {
            if (!once(name == "--db" ? seenDb : seenOutput)) {
                return std::string(name) + " 重复";
            }
            if (v.empty()) {
                return std::string(name) + " 缺少值";
            }
            (name == "--db" ? o.db : o.output) = v;
        }
    }
    if (o.command == "export" && !o.since) {
        return "export 需要 --since";
    }
    if (o.since && o.until && *o.until <= *o.since) {
        return "--until 必须晚于 --since";
    }
    return std::nullopt;
}

std::string YieldText(std::int64_t passed, std::int64_t tested) {
    if (tested <= 0) {
        return "-";
    }
    // Tenths of a percent, rounded half up, in integers.
    const std::int64_t tenths = (passed * 1000 + tested / 2) / tested;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "%";
}

// Columns in the terminal: a CJK character takes two.
std::size_t DisplayWidth(std::string_view s) {
    std::size_t w = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if ((c & 0xC0) == 0x80) {
            continue;
        }
        w += c >= 0xE1 ? 2 : 1;
    }
    return w;
}

std::string PadRight(std::string_view s, std::size_t width) {
    std::string out(s);
    for (std::size_t w = DisplayWidth(s); w < width; ++w) {
        out += ' ';
    }
    return out;
}

std::string PadLeft(const std::string& s, std::size_t width) {
    return std::string(width > s.size() ? width - s.size() : 0, ' ') + s;
}

int Summary(kx::RecordStore& store, const kx::RecordFilter& filter, kx::SummaryBy by) {
    std::string error;
    const auto rows = store.Summary(filter, by, &error);
    if (!error.empty()) {
        std::fprintf(stderr, "kaldrix-records：读取记录失败：%s\n", error.c_str());
        return kExitDatabase;
    }
    std::int64_t tested = 0, passed = 0, failed = 0;
    for (const auto& r : rows) {
        tested += r.tested;
        passed += r.passed;
        failed += r.failed;
    }
    const char* keyTitle = by == kx::SummaryBy::Day    ? "日期"
                           : by == kx::SummaryBy::Head ? "测试头"
                                                       : "";
    std::size_t keyWidth = DisplayWidth("合计");
    for (const auto& r : rows) {
        keyWidth = std::max(keyWidth, DisplayWidth(r.key));
    }
    keyWidth = std::max(keyWidth, DisplayWidth(keyTitle));
    const auto line = [&](std::string_view key, const std::string& a, const std::string& b,
                          const std::string& c, const std::string& d) {
        std::string out = PadRight(key, keyWidth) + "  " + PadLeft(a, 9) + "  " + PadLeft(b, 9) +
                          "  " + PadLeft(c, 9) + "  " + PadLeft(d, 7) + "\n";
        std::fputs(out.c_str(), stdout);
    };
    // The titles are two columns wide each: padded to the numbers' width.
    line(keyTitle, "     测试", "     通过", "     失败", "   良率");
    if (by != kx::SummaryBy::Total) {
        for (const auto& r : rows) {
            line(r.key, std::to_string(r.tested), std::to_string(r.passed),
                 std::to_string(r.failed), YieldText(r.passed, r.tested));
        }
    }
    line("合计", std::to_string(tested), std::to_string(passed), std::to_string(failed),
         YieldText(passed, tested));
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "kaldrix-records：写入标准输出失败：%s\n", std::strerror(errno));
        return kExitDatabase;
    }
    return 0;
}

int Export(kx::RecordStore& store, const kx::RecordFilter& filter, const Options& o) {
    kx::ExportResult result;
    if (!o.output.empty()) {
        result = kx::ExportRecords(store, filter, o.format, o.output);
    } else {
        result = kx::ExportRecords(store, filter, o.format, [](const std::string& chunk) {
            return std::fwrite(chunk.data(), 1, chunk.size(), stdout) == chunk.size();
        });
        if (result.ok && std::fflush(stdout) != 0) {
            result.ok = false;
            result.error = std::string("写入标准输出失败：") + std::strerror(errno);
        }
    }
    if (!result.ok) {
        std::fprintf(stderr, "kaldrix-records：%s\n", result.error.c_str());
        return kExitDatabase;
    }
    std::fprintf(stderr, "kaldrix-records：已导出 %lld 条记录\n",
                 static_cast<long long>(result.records));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (const auto error = Parse(argc, argv, o)) {
        return Usage(*error);
    }
    if (o.help) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    const std::string db = o.db.empty() ? kx::DefaultRecordsPath() : o.db;
    std::string error;
    const auto store = kx::RecordStore::Open(db, kx::RecordStore::Mode::ReadOnly, &error);
    if (!store) {
        std::fprintf(stderr, "kaldrix-records：无法打开记录数据库 %s：%s\n", db.c_str(),
                     error.c_str());
        return kExitDatabase;
    }
    kx::RecordFilter filter;
    filter.sinceMs = o.since;
    filter.untilMs = o.until;
    return o.command == "export" ? Export(*store, filter, o) : Summary(*store, filter, o.by);
}
