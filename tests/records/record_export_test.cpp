// SPDX-License-Identifier: MIT
// The CSV and JSON Lines exports of the test records: the exact bytes of
// both formats, the quoting of texts that come from outside, and the export
// to a file and to a sink against a real database.

#include "records/record_export.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/records/record_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace kx {
namespace {

// A pass of the FPC test on the first head: channel 1 marked, channel 32
// masked.
TestRecord PassRecord() {
    TestRecord r;
    r.uuid = "0b9f4c1e-2d3a-4f5b-8c6d-7e8f9a0b1c2d";
    r.timeMs = 1796947200123;  // 2026-12-11 00:00:00.123 UTC
    r.utcOffsetMinutes = 480;
    r.startMs = r.timeMs - 4500;
    r.durationMs = 4500;
    r.station = "line-3";
    r.config = kBoardSettings;
    r.board = {"one-to-one", "Maker", "Tester", "V2.1", "SN0001", 0};
    r.page = 0;
    r.row = 1;
    r.column = 1;
    r.serial = "A123";
    r.verdict = RecordVerdict::Pass;
    r.reason = kReasonEveryChannelResponded;
    r.fpc = true;
    r.worst = WorstVerdict::Pass;
    r.steps = 120;
    r.failedSteps = 0;
    r.channels[0] = {0, 2, 1, 850, 12, 900, 800, 100, 500};
    r.channels[31].mode = 1;
    return r;
}

// A failure whose texts carry everything a reader may trip over: Chinese,
// quotes, commas, a line break, a formula, control characters and bytes
// that are not UTF-8.
TestRecord FailRecord() {
    TestRecord r;
    r.uuid = "f47ac10b-58cc-4372-a567-0e02b2c3d479";
    r.timeMs = 1796954400005;  // 2026-12-11 02:00:00.005 UTC
    r.utcOffsetMinutes = -330;
    r.startMs = r.timeMs - 61000;
    r.durationMs = 61000;
    r.station = "st\xff线\xe4\xb8";
    r.operatorName = "=cmd|' /C calc'!A0";
    r.config = "/home/操作员/配置 \"新\",v2.cfg";
    r.configSha256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    r.board = {"master", "Maker \"X\"", "多头", "1.0", "\x01\tID", 3};
    r.page = 2;
    r.row = 2;
    r.column = 3;
    r.serial = "序列号,\"A\"\n2";
    r.verdict = RecordVerdict::Fail;
    r.reason = std::string(kReasonChannelsDidNotRespond) + ": 3, 17";
    r.fpc = false;
    r.worst = WorstVerdict::NoData;
    r.steps = 61;
    r.failedSteps = 7;
    r.channels[2] = {0, 3, 0, -5, -20, 30, 800, 100, 0};
    r.channels[16] = {0, 3, 0, 0, 0, 0, 800, 100, 0};
    return r;
}

std::string CsvZeros(int channels) {
    std::string s;
    for (int i = 0; i < channels; ++i) {
        s += ",0,0,0,0,0,0,0,0,0";
    }
    return s;
}

std::string JsonZeros(int from, int to) {
    std::string s;
    for (int ch = from; ch <= to; ++ch) {
        s += ",{\"channel\":" + std::to_string(ch) +
             ",\"value\":0,\"low\":0,\"high\":0,\"upper\":0,\"lower\":0,\"reference\":0,"
             "\"mode\":0,\"class\":0,\"mark\":0}";
    }
    return s;
}

// RFC 4180 read back: the fields of one CSV line (without its CRLF).
std::vector<std::string> ParseCsv(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::string WithoutCrlf(const std::string& line) {
    EXPECT_GE(line.size(), 2u);
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    return line.substr(0, line.size() - 2);
}

TEST(RecordExportFormat, CsvHeaderAndBothRecordsByteForByte) {
    const std::string header = CsvHeader();
    ASSERT_EQ(header.substr(0, 3), "\xEF\xBB\xBF");
    const std::string fixed =
        "uuid,time,time_ms,utc_offset_minutes,start,start_ms,duration_ms,station,operator,"
        "config,config_sha256,board_family,board_manufacturer,board_product,board_firmware,"
        "board_device_id,machine_type,page,row,column,serial,verdict,reason,fpc,worst,steps,"
        "failed_steps,ch1_value,ch1_low,ch1_high,ch1_upper,ch1_lower,ch1_reference,ch1_mode,"
        "ch1_class,ch1_mark,ch2_value,";
    EXPECT_EQ(header.substr(3, fixed.size()), fixed);
    EXPECT_EQ(header.substr(header.size() - 23), ",ch32_class,ch32_mark\r\n");

    EXPECT_EQ(CsvLine(PassRecord()),
              "\"0b9f4c1e-2d3a-4f5b-8c6d-7e8f9a0b1c2d\",\"2026-12-11T08:00:00.123+08:00\","
              "1796947200123,480,\"2026-12-11T07:59:55.623+08:00\",1796947195623,4500,"
              "\"line-3\",\"\",\"board settings\",\"\",\"one-to-one\",\"Maker\",\"Tester\","
              "\"V2.1\",\"SN0001\",0,0,1,1,\"A123\",\"PASS\",\"every channel responded\",1,"
              "\"PASS\",120,0,850,12,900,800,100,500,0,2,1" +
                  CsvZeros(30) + ",0,0,0,0,0,0,1,0,0\r\n");

    EXPECT_EQ(CsvLine(FailRecord()),
              "\"f47ac10b-58cc-4372-a567-0e02b2c3d479\",\"2026-12-10T20:30:00.005-05:30\","
              "1796954400005,-330,\"2026-12-10T20:28:59.005-05:30\",1796954339005,61000,"
              "\"st\xEF\xBF\xBD线\xEF\xBF\xBD\",\"'=cmd|' /C calc'!A0\","
              "\"/home/操作员/配置 \"\"新\"\",v2.cfg\","
              "\"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\","
              "\"master\",\"Maker \"\"X\"\"\",\"多头\",\"1.0\",\"\x01\tID\",3,2,2,3,"
              "\"序列号,\"\"A\"\"\n2\",\"FAIL\",\"channels did not respond: 3, 17\",0,"
              "\"NODATA\",61,7" +
                  CsvZeros(2) + ",-5,-20,30,800,100,0,0,3,0" + CsvZeros(13) +
                  ",0,0,0,800,100,0,0,3,0" + CsvZeros(15) + "\r\n");

    // Read back as a spreadsheet program would: as many fields as the
    // header names, and the texts as they were (the formula marked).
    const auto names = ParseCsv(WithoutCrlf(header.substr(3)));
    EXPECT_EQ(names.size(), 27u + 32u * 9u);
    const auto pass = ParseCsv(WithoutCrlf(CsvLine(PassRecord())));
    const auto fail = ParseCsv(WithoutCrlf(CsvLine(FailRecord())));
    ASSERT_EQ(pass.size(), names.size());
    ASSERT_EQ(fail.size(), names.size());
    EXPECT_EQ(fail[20], FailRecord().serial);
    EXPECT_EQ(fail[9], FailRecord().config);
    EXPECT_EQ(fail[8], "'" + FailRecord().operatorName);
}

TEST(RecordExportFormat, JsonLinesOfBothRecordsByteForByte) {
    EXPECT_EQ(JsonLine(PassRecord()),
              "{\"uuid\":\"0b9f4c1e-2d3a-4f5b-8c6d-7e8f9a0b1c2d\","
              "\"time\":\"2026-12-11T08:00:00.123+08:00\",\"time_ms\":1796947200123,"
              "\"utc_offset_minutes\":480,\"start\":\"2026-12-11T07:59:55.623+08:00\","
              "\"start_ms\":1796947195623,\"duration_ms\":4500,\"station\":\"line-3\","
              "\"operator\":\"\",\"config\":\"board settings\",\"config_sha256\":\"\","
              "\"board\":{\"family\":\"one-to-one\",\"manufacturer\":\"Maker\","
              "\"product\":\"Tester\",\"firmware\":\"V2.1\",\"device_id\":\"SN0001\","
              "\"machine_type\":0},\"page\":0,\"row\":1,\"column\":1,\"serial\":\"A123\","
              "\"verdict\":\"PASS\",\"reason\":\"every channel responded\",\"fpc\":true,"
              "\"worst\":\"PASS\",\"steps\":120,\"failed_steps\":0,\"channels\":["
              "{\"channel\":1,\"value\":850,\"low\":12,\"high\":900,\"upper\":800,"
              "\"lower\":100,\"reference\":500,\"mode\":0,\"class\":2,\"mark\":1}" +
                  JsonZeros(2, 31) +
                  ",{\"channel\":32,\"value\":0,\"low\":0,\"high\":0,\"upper\":0,\"lower\":0,"
                  "\"reference\":0,\"mode\":1,\"class\":0,\"mark\":0}]}\n");

    EXPECT_EQ(JsonLine(FailRecord()),
              "{\"uuid\":\"f47ac10b-58cc-4372-a567-0e02b2c3d479\","
              "\"time\":\"2026-12-10T20:30:00.005-05:30\",\"time_ms\":1796954400005,"
              "\"utc_offset_minutes\":-330,\"start\":\"2026-12-10T20:28:59.005-05:30\","
              "\"start_ms\":1796954339005,\"duration_ms\":61000,"
              "\"station\":\"st\xEF\xBF\xBD线\xEF\xBF\xBD\","
              "\"operator\":\"=cmd|' /C calc'!A0\","
              "\"config\":\"/home/操作员/配置 \\\"新\\\",v2.cfg\","
              "\"config_sha256\":"
              "\"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\","
              "\"board\":{\"family\":\"master\",\"manufacturer\":\"Maker \\\"X\\\"\","
              "\"product\":\"多头\",\"firmware\":\"1.0\",\"device_id\":\"\\u0001\\tID\","
              "\"machine_type\":3},\"page\":2,\"row\":2,\"column\":3,"
              "\"serial\":\"序列号,\\\"A\\\"\\n2\",\"verdict\":\"FAIL\","
              "\"reason\":\"channels did not respond: 3, 17\",\"fpc\":false,"
              "\"worst\":\"NODATA\",\"steps\":61,\"failed_steps\":7,\"channels\":[" +
                  JsonZeros(1, 2).substr(1) +
                  ",{\"channel\":3,\"value\":-5,\"low\":-20,\"high\":30,\"upper\":800,"
                  "\"lower\":100,\"reference\":0,\"mode\":0,\"class\":3,\"mark\":0}" +
                  JsonZeros(4, 16) +
                  ",{\"channel\":17,\"value\":0,\"low\":0,\"high\":0,\"upper\":800,"
                  "\"lower\":100,\"reference\":0,\"mode\":0,\"class\":3,\"mark\":0}" +
                  JsonZeros(18, 32) + "]}\n");
}

// A serial as the scanner typed it, and what each format makes of it.
TEST(RecordExportFormat, SerialTextsInBothFormats) {
    struct Case {
        std::string serial;
        std::string csvField;  // read back from the CSV
        std::string json;      // the JSON string with its quotes
    };
    const std::string ffd = "\xEF\xBF\xBD";
    const Case cases[] = {
        {"", "", "\"\""},
        {"A-1=2", "A-1=2", "\"A-1=2\""},
        // What a spreadsheet program would run: marked as text.
        {"=1+1", "'=1+1", "\"=1+1\""},
        {"+86 123", "'+86 123", "\"+86 123\""},
        {"-2+3", "'-2+3", "\"-2+3\""},
        {"@SUM(A1)", "'@SUM(A1)", "\"@SUM(A1)\""},
        {"\t=1", "'\t=1", "\"\\t=1\""},
        {"\r=1", "'\r=1", "\"\\r=1\""},
        // Line ends inside a field, quotes, backslashes.
        {"a\r\nb", "a\r\nb", "\"a\\r\\nb\""},
        {"\"q\"\\", "\"q\"\\", "\"\\\"q\\\"\\\\\""},
        // Every control character; DEL passes.
        {std::string("\x00\x08\x0c\x1b\x1f\x7f", 6), std::string("\x00\x08\x0c\x1b\x1f\x7f", 6),
         "\"\\u0000\\b\\f\\u001b\\u001f\x7f\""},
        // UTF-8: kept when well-formed (four bytes too), each malformed
        // part replaced by one U+FFFD.
        {"\xF0\x9F\x98\x80中", "\xF0\x9F\x98\x80中", "\"\xF0\x9F\x98\x80中\""},
        {"\xC0\x80", ffd + ffd, "\"" + ffd + ffd + "\""},                  // overlong
        {"\xED\xA0\x80", ffd + ffd + ffd, "\"" + ffd + ffd + ffd + "\""},  // surrogate
        {"\xF4\x90\x80\x80", ffd + ffd + ffd + ffd, "\"" + ffd + ffd + ffd + ffd + "\""},
        {"a\xE4\xB8", "a" + ffd, "\"a" + ffd + "\""},  // cut short
        {"\xE4\xB8z", ffd + "z", "\"" + ffd + "z\""},
        {"\x80\xBF", ffd + ffd, "\"" + ffd + ffd + "\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.serial));
        TestRecord r = PassRecord();
        r.serial = c.serial;
        const auto fields = ParseCsv(WithoutCrlf(CsvLine(r)));
        ASSERT_EQ(fields.size(), 27u + 32u * 9u);
        EXPECT_EQ(fields[20], c.csvField);
        EXPECT_NE(JsonLine(r).find(",\"serial\":" + c.json + ",\"verdict\":"), std::string::npos)
            << JsonLine(r);
    }
}

TEST(RecordExportFormat, TimesInTheStationsOffset) {
    struct Case {
        std::int64_t ms;
        std::int32_t offset;
        const char* iso;
    };
    const Case cases[] = {
        {0, 0, "1970-01-01T00:00:00.000+00:00"},
        {-1, 0, "1969-12-31T23:59:59.999+00:00"},
        {1798747200005, 480, "2027-01-01T04:00:00.005+08:00"},  // into the new year
        {1798747200005, -570, "2026-12-31T10:30:00.005-09:30"},
        {951782400000, 0, "2000-02-29T00:00:00.000+00:00"},  // a leap day
        {253402300799999, 0, "9999-12-31T23:59:59.999+00:00"},
        {-62135596800000, 0, "0001-01-01T00:00:00.000+00:00"},
        // Beyond what a station writes (a damaged database): no text.
        {INT64_MAX, 0, ""},
        {0, 100000, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.iso);
        TestRecord r = PassRecord();
        r.timeMs = c.ms;
        r.utcOffsetMinutes = c.offset;
        const std::string json = JsonLine(r);
        EXPECT_NE(json.find(std::string("\"time\":\"") + c.iso +
                            "\",\"time_ms\":" + std::to_string(c.ms) + ","),
                  std::string::npos)
            << json.substr(0, 120);
    }
}

// A database of `count` records of the shared fixture, written in one go.
std::unique_ptr<RecordStore> StoreWith(const std::string& path, int count) {
    std::string error;
    auto store = RecordStore::Open(path, RecordStore::Mode::ReadWrite, &error);
    EXPECT_TRUE(store) << error;
    std::vector<TestRecord> records;
    for (int i = 0; i < count; ++i) {
        records.push_back(test::SequenceRecord(static_cast<std::uint64_t>(i)));
    }
    EXPECT_TRUE(store->Insert(records, &error)) << error;
    return store;
}

TEST(RecordExportFile, TakesWhatTheFilterTakesInBothFormatsToFileAndSink) {
    test::TempDir dir;
    const int kCount = 40;
    auto store = StoreWith(dir / "records.db", kCount);
    ASSERT_TRUE(store);
    const auto t = [](int i) { return test::SequenceRecord(static_cast<std::uint64_t>(i)).timeMs; };
    struct Case {
        const char* name;
        RecordFilter filter;
        bool (*takes)(const TestRecord&, std::int64_t since, std::int64_t until);
    };
    const std::int64_t since = t(5), until = t(31);
    const Case cases[] = {
        {"all", {}, [](const TestRecord&, std::int64_t, std::int64_t) { return true; }},
        {"time range",
         {since, until, {}, "", {}},
         [](const TestRecord& r, std::int64_t s, std::int64_t u) {
             return r.timeMs >= s && r.timeMs < u;
         }},
        {"failures in the range",
         {since, until, RecordVerdict::Fail, "", {}},
         [](const TestRecord& r, std::int64_t s, std::int64_t u) {
             return r.timeMs >= s && r.timeMs < u && r.verdict == RecordVerdict::Fail;
         }},
        {"serial text",
         {{}, {}, {}, "_%1", {}},
         [](const TestRecord& r, std::int64_t, std::int64_t) {
             return r.serial.find("_%1") != std::string::npos;
         }},
        {"page",
         {{}, {}, {}, "", 7},
         [](const TestRecord& r, std::int64_t, std::int64_t) { return r.page == 7; }},
        {"nothing",
         {t(kCount), {}, {}, "", {}},
         [](const TestRecord&, std::int64_t, std::int64_t) { return false; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string csv = CsvHeader(), jsonl;
        std::int64_t expected = 0;
        for (int i = 0; i < kCount; ++i) {
            const TestRecord r = test::SequenceRecord(static_cast<std::uint64_t>(i));
            if (c.takes(r, since, until)) {
                csv += CsvLine(r);
                jsonl += JsonLine(r);
                ++expected;
            }
        }
        for (const auto& [format, bytes] :
             {std::pair{ExportFormat::Csv, csv}, std::pair{ExportFormat::Jsonl, jsonl}}) {
            const std::string path = dir / "export.out";
            std::int64_t lastProgress = -1;
            const ExportResult file = ExportRecords(*store, c.filter, format, path,
                                                    [&](std::int64_t n) { lastProgress = n; });
            ASSERT_TRUE(file.ok) << file.error;
            EXPECT_EQ(file.records, expected);
            EXPECT_EQ(lastProgress, expected);
            EXPECT_EQ(test::ReadWhole(path), bytes);

            std::string sunk;
            const ExportResult sink =
                ExportRecords(*store, c.filter, format, [&](const std::string& chunk) {
                    sunk += chunk;
                    return true;
                });
            ASSERT_TRUE(sink.ok) << sink.error;
            EXPECT_EQ(sink.records, expected);
            EXPECT_EQ(sunk, bytes);
        }
    }
    // The file is the user's, as the umask allows, not the temporary file's
    // owner-only mode.
    const auto perms = std::filesystem::status(dir / "export.out").permissions();
    EXPECT_NE(perms & std::filesystem::perms::group_read, std::filesystem::perms::none);
}

// A failed or cancelled export leaves no file of its own: no half file, no
// temporary file, and a file that was there before keeps its bytes.
TEST(RecordExportFile, FailedOrCancelledLeavesNoFile) {
    test::TempDir dir;
    auto store = StoreWith(dir / "db/records.db", 2500);
    ASSERT_TRUE(store);
    std::filesystem::create_directory(dir.path() / "out");
    const std::string target = dir / "out/records.csv";
    test::WriteWhole(target, "the old export\n");
    std::filesystem::create_directory(dir.path() / "out/a folder");

    struct Case {
        const char* name;
        std::string path;
        bool cancelFirst;
        std::int64_t cancelAt;  // from the progress callback; 0: never
    };
    const Case cases[] = {
        {"folder missing", dir / "out/missing/records.csv", false, 0},
        {"a folder in the way", dir / "out/a folder", false, 0},
        {"a path ending in a slash", dir / "out/", false, 0},
        {"cancelled before", target, true, 0},
        {"cancelled half-way", target, false, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> cancel{c.cancelFirst};
        const ExportResult result = ExportRecords(
            *store, {}, ExportFormat::Csv, c.path,
            [&](std::int64_t n) {
                if (c.cancelAt != 0 && n >= c.cancelAt) {
                    cancel = true;
                }
            },
            &cancel);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.error.empty());
        EXPECT_EQ(dir.List(dir.path() / "out"),
                  (std::vector<std::string>{"a folder", "records.csv"}));
        EXPECT_EQ(test::ReadWhole(target), "the old export\n");
    }

    // The disk fills up half-way (the file size limit stands for it): the
    // write fails, and the temporary file goes.
    test::ChildProcess child([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{256 * 1024, 256 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const ExportResult r = ExportRecords(*store, {}, ExportFormat::Jsonl, target);
        return std::string(r.ok ? "ok" : "failed: " + r.error);
    });
    const auto said = child.Wait(std::chrono::seconds(60));
    ASSERT_TRUE(said);
    EXPECT_EQ(said->rfind("failed: ", 0), 0u) << *said;
    EXPECT_EQ(dir.List(dir.path() / "out"), (std::vector<std::string>{"a folder", "records.csv"}));
    EXPECT_EQ(test::ReadWhole(target), "the old export\n");

    // A sink that stops taking: not a success.
    int chunks = 0;
    const ExportResult stopped = ExportRecords(*store, {}, ExportFormat::Csv,
                                               [&](const std::string&) { return ++chunks < 1; });
    EXPECT_FALSE(stopped.ok);
    EXPECT_FALSE(stopped.error.empty());
    EXPECT_EQ(chunks, 1);

    // And the same export, not stopped, replaces the old file.
    const ExportResult done = ExportRecords(*store, {}, ExportFormat::Csv, target);
    ASSERT_TRUE(done.ok) << done.error;
    EXPECT_EQ(done.records, 2500);
    EXPECT_EQ(dir.List(dir.path() / "out"), (std::vector<std::string>{"a folder", "records.csv"}));
}

}  // namespace
}  // namespace kx
