// SPDX-License-Identifier: MIT
// The CSV and JSON Lines exports of the test records.
//
// Both formats are written into one buffer through a raw pointer, with
// std::to_chars for the numbers: room for a whole record is made once (its
// texts' length bounds it), then no field checks, allocates or measures a
// name at run time. No stream, no per-field string.
//
// Texts come from outside (a scanner types the serial, the board reports
// its strings, a path names the configuration): each is written as valid
// UTF-8, a malformed sequence replaced by U+FFFD, so that a reader never
// trips over a byte the station only passed on.
//
// CSV: every text field is quoted (RFC 4180: a quote inside is doubled;
// commas, CR and LF stay inside the quotes), numbers never are. A text that
// starts with = + - @, a tab or a carriage return would be taken for a
// formula by a spreadsheet program (a serial "=HYPERLINK(...)" typed on a
// scanner runs when the file is opened): such a text gets a leading
// apostrophe, which the spreadsheet shows as a plain text marker. The CSV
// is for reading by people; the JSON Lines export keeps every text exactly
// as stored.

#include "records/record_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string_view>

#include "core/tr_text.h"

namespace kx {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The writers below put bytes through a raw pointer into room made before
// each record (RecordBound), with no check per byte.

template <std::size_t N>
char* Lit(char* p, const char (&text)[N]) {
    std::memcpy(p, text, N - 1);
    return p + N - 1;
}

char* Put(char* p, std::string_view text) {
    std::memcpy(p, text.data(), text.size());
    return p + text.size();
}

template <typename Int>
char* PutInt(char* p, Int value) {
    return std::to_chars(p, p + 24, value).ptr;
}

// 0 to 99 with two digits.
char* Put2(char* p, std::int64_t value) {
    *p++ = static_cast<char>('0' + value / 10);
    *p++ = static_cast<char>('0' + value % 10);
    return p;
}

// The length of the well-formed UTF-8 sequence at `s[i]`, or, when it is
// malformed, the negated length of its longest well-formed prefix (at least
// one byte): that prefix is replaced by one U+FFFD, as Unicode recommends.
int Utf8Sequence(std::string_view s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) {
        return 1;
    }
    int len = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c == 0xE0) {
        len = 3, lo = 0xA0;
    } else if (c >= 0xE1 && c <= 0xEC) {
        len = 3;
    } else if (c == 0xED) {
        len = 3, hi = 0x9F;  // no surrogates
    } else if (c >= 0xEE && c <= 0xEF) {
        len = 3;
    } else if (c == 0xF0) {
        len = 4, lo = 0x90;
    } else if (c >= 0xF1 && c <= 0xF3) {
        len = 4;
    } else if (c == 0xF4) {
        len = 4, hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return -1;  // a continuation byte, C0, C1 or F5..FF
    }
    for (int k = 1; k < len; ++k) {
        if (i + k >= s.size()) {
            return -k;
        }
        const unsigned char x = b(i + k);
        const bool inRange = k == 1 ? (x >= lo && x <= hi) : (x >= 0x80 && x <= 0xBF);
        if (!inRange) {
            return -k;
        }
    }
    return len;
}

// A non-ASCII sequence at `text[i]`, kept or replaced; advances `i`.
char* PutUtf8(char* p, std::string_view text, std::size_t& i) {
    const int n = Utf8Sequence(text, i);
    if (n > 0) {
        p = Put(p, text.substr(i, static_cast<std::size_t>(n)));
        i += static_cast<std::size_t>(n);
    } else {
        p = Put(p, kReplacement);
        i += static_cast<std::size_t>(-n);
    }
    return p;
}

// `text` as a quoted CSV field: at most 3 bytes for each of its bytes, and 3.
char* PutCsvText(char* p, std::string_view text) {
    *p++ = '"';
    if (!text.empty()) {
        const char first = text.front();
        if (first == '=' || first == '+' || first == '-' || first == '@' || first == '\t' ||
            first == '\r') {
            *p++ = '\'';
        }
    }
    std::size_t i = 0;
    while (i < text.size()) {
        // The plain run up to the next quote or non-ASCII byte in one copy.
        std::size_t j = i;
        while (j < text.size() && text[j] != '"' && static_cast<unsigned char>(text[j]) < 0x80) {
            ++j;
        }
        p = Put(p, text.substr(i, j - i));
        i = j;
        if (i == text.size()) {
            break;
        }
        if (text[i] == '"') {
            p = Lit(p, "\"\"");
            ++i;
        } else {
            p = PutUtf8(p, text, i);
        }
    }
    *p++ = '"';
    return p;
}

// `text` as a JSON string with its quotes: at most 6 bytes for each of its
// bytes, and 2.
char* PutJsonText(char* p, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    *p++ = '"';
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t j = i;
        while (j < text.size()) {
            const auto c = static_cast<unsigned char>(text[j]);
            if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\') {
                break;
            }
            ++j;
        }
        p = Put(p, text.substr(i, j - i));
        i = j;
        if (i == text.size()) {
            break;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            p = PutUtf8(p, text, i);
            continue;
        }
        switch (c) {
            case '"':
                p = Lit(p, "\\\"");
                break;
            case '\\':
                p = Lit(p, "\\\\");
                break;
            case '\b':
                p = Lit(p, "\\b");
                break;
            case '\f':
                p = Lit(p, "\\f");
                break;
            case '\n':
                p = Lit(p, "\\n");
                break;
            case '\r':
                p = Lit(p, "\\r");
                break;
            case '\t':
                p = Lit(p, "\\t");
                break;
            default:
                p = Lit(p, "\\u00");
                *p++ = kHex[c >> 4];
                *p++ = kHex[c & 15];
        }
        ++i;
    }
    *p++ = '"';
    return p;
}

// Days since 1970-01-01 to the proleptic Gregorian date (H. Hinnant's
// civil_from_days).
void CivilFromDays(std::int64_t z, std::int64_t& y, int& m, int& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = yoe + era * 400;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    if (m <= 2) {
        ++y;
    }
}

// The station's local time of `utcMs` as ISO 8601 with milliseconds and the
// offset: 2026-12-11T08:00:00.123+08:00 (at most 37 bytes). Times no station
// could have written (beyond ±100,000 years, an offset beyond a day: a
// damaged database) give "".
char* PutIsoTime(char* p, std::int64_t utcMs, std::int32_t offsetMinutes) {
    constexpr std::int64_t kLimitMs = 100000LL * 366 * 86400000LL;
    constexpr std::int32_t kLimitOffset = 24 * 60;
    if (utcMs > kLimitMs || utcMs < -kLimitMs || offsetMinutes > kLimitOffset ||
        offsetMinutes < -kLimitOffset) {
        return p;
    }
    const std::int64_t local = utcMs + std::int64_t{offsetMinutes} * 60000;
    constexpr std::int64_t kDayMs = 86400000;
    std::int64_t days = local / kDayMs;
    std::int64_t ms = local % kDayMs;
    if (ms < 0) {
        ms += kDayMs;
        --days;
    }
    std::int64_t year = 0;
    int month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    if (year < 0) {
        *p++ = '-';
        year = -year;
    }
    if (year < 10000) {
        p = Put2(p, year / 100);
        p = Put2(p, year % 100);
    } else {
        p = PutInt(p, year);
    }
    *p++ = '-';
    p = Put2(p, month);
    *p++ = '-';
    p = Put2(p, day);
    *p++ = 'T';
    p = Put2(p, ms / 3600000);
    *p++ = ':';
    p = Put2(p, ms / 60000 % 60);
    *p++ = ':';
    p = Put2(p, ms / 1000 % 60);
    *p++ = '.';
    *p++ = static_cast<char>('0' + ms % 1000 / 100);
    p = Put2(p, ms % 100);
    const std::int32_t off = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    *p++ = offsetMinutes < 0 ? '-' : '+';
    p = Put2(p, off / 60);
    *p++ = ':';
    return Put2(p, off % 60);
}

constexpr const char* kChannelFields[] = {"value",     "low",  "high",  "upper", "lower",
                                          "reference", "mode", "class", "mark"};

// Room enough for either format of `r`: six bytes for every byte of its
// texts (a control character in JSON), and for the names, numbers and times
// (32 channels of nine numbers with their names are under 7 KiB).
std::size_t RecordBound(const TestRecord& r) {
    const std::size_t texts = r.uuid.size() + r.station.size() + r.operatorName.size() +
                              r.config.size() + r.configSha256.size() + r.board.family.size() +
                              r.board.manufacturer.size() + r.board.product.size() +
                              r.board.firmware.size() + r.board.deviceId.size() + r.serial.size() +
                              r.reason.size();
    return 6 * texts + 16384;
}

char* PutCsv(char* p, const TestRecord& r) {
    const auto text = [&](std::string_view s) {
        p = PutCsvText(p, s);
        *p++ = ',';
    };
    const auto num = [&](auto v) {
        p = PutInt(p, v);
        *p++ = ',';
    };
    const auto time = [&](std::int64_t ms) {
        *p++ = '"';
        p = PutIsoTime(p, ms, r.utcOffsetMinutes);
        p = Lit(p, "\",");
        num(ms);
    };
    text(r.uuid);
    time(r.timeMs);
    num(r.utcOffsetMinutes);
    time(r.startMs);
    num(r.durationMs);
    text(r.station);
    text(r.operatorName);
    text(r.config);
    text(r.configSha256);
    text(r.board.family);
    text(r.board.manufacturer);
    text(r.board.product);
    text(r.board.firmware);
    text(r.board.deviceId);
    num(r.board.machineType);
    num(r.page);
    num(r.row);
    num(r.column);
    text(r.serial);
    text(VerdictText(r.verdict));
    text(r.reason);
    num(r.fpc ? 1 : 0);
    text(WorstVerdictText(r.worst));
    num(r.steps);
    num(r.failedSteps);
    for (const ChannelRecord& c : r.channels) {
        num(c.value);
        num(c.low);
        num(c.high);
        num(c.upper);
        num(c.lower);
        num(c.reference);
        num(int{c.mode});
        num(int{c.channelClass});
        num(int{c.greenMark});
    }
    p[-1] = '\r';  // over the last comma
    *p++ = '\n';
    return p;
}

char* PutJson(char* p, const TestRecord& r) {
    // Each name with the comma before it: `key` is `,"name":`.
    const auto text = [&](std::string_view key, std::string_view s) {
        p = Put(p, key);
        p = PutJsonText(p, s);
    };
    const auto num = [&](std::string_view key, auto v) {
        p = Put(p, key);
        p = PutInt(p, v);
    };
    const auto time = [&](std::string_view key, std::string_view msKey, std::int64_t ms) {
        p = Put(p, key);
        *p++ = '"';
        p = PutIsoTime(p, ms, r.utcOffsetMinutes);
        *p++ = '"';
        num(msKey, ms);
    };
    text("{\"uuid\":", r.uuid);
    time(",\"time\":", ",\"time_ms\":", r.timeMs);
    num(",\"utc_offset_minutes\":", r.utcOffsetMinutes);
    time(",\"start\":", ",\"start_ms\":", r.startMs);
    num(",\"duration_ms\":", r.durationMs);
    text(",\"station\":", r.station);
    text(",\"operator\":", r.operatorName);
    text(",\"config\":", r.config);
    text(",\"config_sha256\":", r.configSha256);
    text(",\"board\":{\"family\":", r.board.family);
    text(",\"manufacturer\":", r.board.manufacturer);
    text(",\"product\":", r.board.product);
    text(",\"firmware\":", r.board.firmware);
    text(",\"device_id\":", r.board.deviceId);
    num(",\"machine_type\":", r.board.machineType);
    num("},\"page\":", r.page);
    num(",\"row\":", r.row);
    num(",\"column\":", r.column);
    text(",\"serial\":", r.serial);
    text(",\"verdict\":", VerdictText(r.verdict));
    text(",\"reason\":", r.reason);
    p = Lit(p, ",\"fpc\":");
    p = r.fpc ? Lit(p, "true") : Lit(p, "false");
    text(",\"worst\":", WorstVerdictText(r.worst));
    num(",\"steps\":", r.steps);
    num(",\"failed_steps\":", r.failedSteps);
    p = Lit(p, ",\"channels\":[");
    int number = 1;
    for (const ChannelRecord& c : r.channels) {
        num(number == 1 ? "{\"channel\":" : ",{\"channel\":", number);
        ++number;
        num(",\"value\":", c.value);
        num(",\"low\":", c.low);
        num(",\"high\":", c.high);
        num(",\"upper\":", c.upper);
        num(",\"lower\":", c.lower);
        num(",\"reference\":", c.reference);
        num(",\"mode\":", int{c.mode});
        num(",\"class\":", int{c.channelClass});
        num(",\"mark\":", int{c.greenMark});
        *p++ = '}';
    }
    return Lit(p, "]}\n");
}

// A growing output of which `used` bytes are written; the string behind it
// is kept at its full size, so that making room for a record costs nothing
// once it is large enough.
class Output {
public:
    explicit Output(std::size_t initial) { buffer_.resize(initial); }

    void Append(ExportFormat format, const TestRecord& r) {
        const std::size_t bound = RecordBound(r);
        if (used_ + bound > buffer_.size()) {
            buffer_.resize(std::max(buffer_.size() * 2, used_ + bound));
        }
        char* const start = buffer_.data() + used_;
        char* const end = format == ExportFormat::Csv ? PutCsv(start, r) : PutJson(start, r);
        used_ += static_cast<std::size_t>(end - start);
    }
    void Append(std::string_view bytes) {
        if (used_ + bytes.size() > buffer_.size()) {
            buffer_.resize(used_ + bytes.size());
        }
        std::memcpy(buffer_.data() + used_, bytes.data(), bytes.size());
        used_ += bytes.size();
    }
    std::size_t Used() const { return used_; }
    // The bytes written as a string, for as long as `fn` runs; then empty.
    template <typename Fn>
    bool Drain(Fn&& fn) {
        const std::size_t full = buffer_.size();
        buffer_.resize(used_);
        const bool ok = fn(static_cast<const std::string&>(buffer_));
        buffer_.resize(full);
        used_ = 0;
        return ok;
    }
    std::string Take() && {
        buffer_.resize(used_);
        return std::move(buffer_);
    }

private:
    std::string buffer_;
    std::size_t used_ = 0;
};

// Records are collected into chunks of about this size before they are
// written out.
constexpr std::size_t kChunkBytes = 1 << 20;
constexpr std::int64_t kProgressEvery = 1000;

// Runs the export into `write`, which takes each full chunk. `write` false
// stops it (its own error already set).
ExportResult Run(RecordStore& store, const RecordFilter& filter, ExportFormat format,
                 const std::function<bool(const std::string&)>& write,
                 const std::function<void(std::int64_t)>& progress,
                 const std::atomic<bool>* cancel) {
    ExportResult result;
    Output out(kChunkBytes + 64 * 1024);
    if (format == ExportFormat::Csv) {
        out.Append(CsvHeader());
    }
    bool cancelled = false;
    bool writeFailed = false;
    std::string dbError;
    const bool ok = store.ForEach(
        filter,
        [&](const StoredRecord& stored) {
            if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
                cancelled = true;
                return false;
            }
            out.Append(format, stored.record);
            ++result.records;
            if (out.Used() >= kChunkBytes && !out.Drain(write)) {
                writeFailed = true;
                return false;
            }
            if (progress && result.records % kProgressEvery == 0) {
                progress(result.records);
            }
            return true;
        },
        &dbError);
    if (writeFailed) {
        return result;
    }
    if (cancelled || (cancel != nullptr && cancel->load(std::memory_order_relaxed))) {
        result.error = TrText("RecordExport", "导出已取消");
        return result;
    }
    if (!ok) {
        result.error = FormatText(TrText("RecordExport", "读取记录失败：%1"), {dbError});
        return result;
    }
    if (out.Used() > 0 && !out.Drain(write)) {
        return result;
    }
    if (progress) {
        progress(result.records);
    }
    result.ok = true;
    return result;
}

// `pattern` is an untranslated "... %1：%2" of context "RecordExport", with
// the path for %1 and the system's text for %2.
std::string Errno(const char* pattern, const std::string& path, int err) {
    const std::string system = std::strerror(err);
    return FormatText(TrText("RecordExport", pattern), {path, system});
}

// The process's file-creation mask, read without changing it (umask(2)
// would, for a moment, for every thread).
mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
        }
    }
    return 022;
}

bool WriteAll(int fd, const std::string& bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string CsvHeader() {
    std::string h(kBom);
    h += "uuid,time,time_ms,utc_offset_minutes,start,start_ms,duration_ms,station,operator,"
         "config,config_sha256,board_family,board_manufacturer,board_product,board_firmware,"
         "board_device_id,machine_type,page,row,column,serial,verdict,reason,fpc,worst,steps,"
         "failed_steps";
    for (int ch = 1; ch <= kChannels; ++ch) {
        for (const char* field : kChannelFields) {
            h += ",ch" + std::to_string(ch) + "_" + field;
        }
    }
    h += "\r\n";
    return h;
}

std::string CsvLine(const TestRecord& record) {
    Output out(0);
    out.Append(ExportFormat::Csv, record);
    return std::move(out).Take();
}

std::string JsonLine(const TestRecord& record) {
    Output out(0);
    out.Append(ExportFormat::Jsonl, record);
    return std::move(out).Take();
}

ExportResult ExportRecords(RecordStore& store, const RecordFilter& filter, ExportFormat format,
                           const std::string& path,
                           const std::function<void(std::int64_t)>& progress,
                           const std::atomic<bool>* cancel) {
    ExportResult result;
    if (path.empty() || path.back() == '/') {
        result.error = FormatText(TrText("RecordExport", "导出文件名无效：%1"), {path});
        return result;
    }
    // The temporary file beside the target, so that the rename stays on one
    // file system and replaces the target in one step.
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp =
        (slash == std::string::npos ? std::string() : folder) + "." + name + ".part-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        result.error =
            Errno(KX_TRANSLATE_NOOP("RecordExport", "无法创建导出文件 %1：%2"), path, errno);
        return result;
    }
    // mkostemp makes the file 0600; an export is an ordinary file of the
    // user's, readable as the user's mask allows.
    ::fchmod(fd, 0666 & ~CurrentUmask());

    std::string writeError;
    const auto write = [&](const std::string& chunk) {
        if (!WriteAll(fd, chunk)) {
            writeError =
                Errno(KX_TRANSLATE_NOOP("RecordExport", "写入导出文件失败 %1：%2"), path, errno);
            return false;
        }
        return true;
    };
    result = Run(store, filter, format, write, progress, cancel);
    if (result.ok && ::fsync(fd) != 0) {
        result.ok = false;
        writeError =
            Errno(KX_TRANSLATE_NOOP("RecordExport", "写入导出文件失败 %1：%2"), path, errno);
    }
    if (::close(fd) != 0 && result.ok) {
        result.ok = false;
        writeError =
            Errno(KX_TRANSLATE_NOOP("RecordExport", "写入导出文件失败 %1：%2"), path, errno);
    }
    if (result.ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        result.ok = false;
        writeError =
            Errno(KX_TRANSLATE_NOOP("RecordExport", "无法写成导出文件 %1：%2"), path, errno);
    }
    if (!result.ok) {
        ::unlink(temp.c_str());
        if (result.error.empty()) {
            result.error = writeError;
        }
        return result;
    }
    // The rename itself on the disk.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return result;
}

ExportResult ExportRecords(RecordStore& store, const RecordFilter& filter, ExportFormat format,
                           const std::function<bool(const std::string& chunk)>& sink) {
    ExportResult result = Run(
        store, filter, format, [&](const std::string& chunk) { return sink(chunk); }, {}, nullptr);
    if (!result.ok && result.error.empty()) {
        result.error = TrText("RecordExport", "导出的输出被中断");
    }
    return result;
}

}  // namespace kx
