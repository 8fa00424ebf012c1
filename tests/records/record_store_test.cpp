// SPDX-License-Identifier: MIT
#include "records/record_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <limits>
#include <set>
#include <thread>

#include "tests/records/record_fixture.h"
#include "tests/support/temp_dir.h"

namespace kx {
namespace {

using test::SequenceRecord;

// The records table as the first version of the station made it, written
// out here as it was, not taken from the code under test.
constexpr const char* kVersion1Schema = R"sql(
CREATE TABLE records (
    id INTEGER PRIMARY KEY,
    uuid TEXT NOT NULL UNIQUE,
    time_ms INTEGER NOT NULL,
    utc_offset_min INTEGER NOT NULL,
    start_ms INTEGER NOT NULL,
    duration_ms INTEGER NOT NULL,
    station TEXT NOT NULL,
    operator TEXT NOT NULL,
    config TEXT NOT NULL,
    config_sha256 TEXT NOT NULL,
    board_family TEXT NOT NULL,
    board_manufacturer TEXT NOT NULL,
    board_product TEXT NOT NULL,
    board_firmware TEXT NOT NULL,
    board_device_id TEXT NOT NULL,
    machine_type INTEGER NOT NULL,
    head_page INTEGER NOT NULL,
    head_row INTEGER NOT NULL,
    head_column INTEGER NOT NULL,
    serial TEXT NOT NULL,
    verdict TEXT NOT NULL CHECK (verdict IN ('PASS', 'FAIL')),
    reason TEXT NOT NULL,
    fpc INTEGER NOT NULL,
    worst TEXT NOT NULL CHECK (worst IN ('PASS', 'NODATA', 'FAIL')),
    steps INTEGER NOT NULL,
    failed_steps INTEGER NOT NULL,
    channels BLOB NOT NULL
);
CREATE INDEX records_time ON records (time_ms, utc_offset_min, verdict);
CREATE INDEX records_verdict ON records (verdict, id);
CREATE INDEX records_page ON records (head_page, id);
CREATE INDEX records_filter ON records (id, time_ms, verdict, head_page, serial);
PRAGMA user_version = 1;
)sql";

// Runs SQL on a database file with SQLite itself, outside the store.
void RawExec(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    const std::string text = message != nullptr ? message : "";
    sqlite3_free(message);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << text;
}

std::unique_ptr<RecordStore> OpenOrFail(const std::string& path,
                                        RecordStore::Mode mode = RecordStore::Mode::ReadWrite) {
    std::string error;
    auto store = RecordStore::Open(path, mode, &error);
    EXPECT_NE(store, nullptr) << error;
    return store;
}

void InsertOrFail(RecordStore& store, const std::vector<TestRecord>& records) {
    std::string error;
    ASSERT_TRUE(store.Insert(records, &error)) << error;
}

std::vector<TestRecord> Sequence(std::uint64_t from, std::uint64_t count) {
    std::vector<TestRecord> records;
    for (std::uint64_t n = from; n < from + count; ++n) {
        records.push_back(SequenceRecord(n));
    }
    return records;
}

// A record at the edges of every field: extremes of the integers, empty and
// Chinese texts, a text with a zero byte and SQL's own characters.
TestRecord EdgeRecord() {
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kMin64 = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kMax64 = std::numeric_limits<std::int64_t>::max();
    TestRecord r;
    r.uuid = "0f0e0d0c-0b0a-4908-8706-050403020100";
    r.timeMs = kMax64;
    r.utcOffsetMinutes = kMin;
    r.startMs = kMin64;
    r.durationMs = -1;
    r.station = "工位一";
    r.operatorName = std::string("李\0四", 5);
    r.config = "/配置/'; DROP TABLE records; --.ini";
    r.configSha256 = std::string(64, 'f');
    r.board = {"", "", "制造商 \"引号\"", "", "设备-%_", kMax};
    r.page = kMax;
    r.row = kMin;
    r.column = 0;
    r.serial = "序列号_%\\";
    r.verdict = RecordVerdict::Fail;
    r.reason = "channels out of limits: 1, 32";
    r.fpc = true;
    r.worst = WorstVerdict::NoData;
    r.steps = kMax64;
    r.failedSteps = kMin64;
    for (std::size_t c = 0; c < r.channels.size(); ++c) {
        const bool odd = c % 2 == 1;
        r.channels[c] = {static_cast<std::uint8_t>(odd ? 255 : 0),
                         static_cast<std::uint8_t>(c),
                         static_cast<std::uint8_t>(odd ? 1 : 0),
                         odd ? kMin : kMax,
                         kMin,
                         kMax,
                         odd ? -1 : 0,
                         static_cast<std::int32_t>(c) - 16,
                         odd ? kMax : kMin};
    }
    return r;
}

class RecordStoreTest : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string path = dir / "records.db";
};

TEST_F(RecordStoreTest, FullRecordsComeBackAsTheyWent) {
    auto store = OpenOrFail(path);
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store->SchemaVersion(), 2);
    std::vector<TestRecord> records = Sequence(0, 12);
    records.push_back(EdgeRecord());
    InsertOrFail(*store, records);

    std::string error;
    const auto page = store->Page({}, 0, 100, &error);
    ASSERT_EQ(page.size(), records.size()) << error;
    for (std::size_t i = 0; i < page.size(); ++i) {
        const StoredRecord& stored = page[page.size() - 1 - i];  // newest first
        EXPECT_EQ(stored.id, static_cast<std::int64_t>(i + 1));
        EXPECT_FALSE(stored.forwarded);
        EXPECT_EQ(stored.record, records[i]) << "record " << i;
        const auto found = store->Find(stored.id, &error);
        ASSERT_TRUE(found) << error;
        EXPECT_EQ(found->record, records[i]);
    }
    EXPECT_FALSE(store->Find(999, &error));

    // And from a fresh read-only connection, as the records window opens it.
    store.reset();
    auto reader = OpenOrFail(path, RecordStore::Mode::ReadOnly);
    ASSERT_NE(reader, nullptr);
    const auto edge = reader->Find(static_cast<std::int64_t>(records.size()), &error);
    ASSERT_TRUE(edge) << error;
    EXPECT_EQ(edge->record, EdgeRecord());
    EXPECT_TRUE(reader->IntegrityOk(&error)) << error;
}

// The records window's reader stops a query of a list no longer shown: the
// query under way ends with its error, and the store reads on afterwards; an
// interrupt while nothing runs touches no later query.
TEST_F(RecordStoreTest, InterruptEndsTheQueryUnderWayAndNoOther) {
    auto store = OpenOrFail(path);
    ASSERT_NE(store, nullptr);
    InsertOrFail(*store, Sequence(0, 20));
    std::string error;
    int seen = 0;
    const bool ok = store->ForEach(
        {},
        [&](const StoredRecord&) {
            if (++seen == 3) {
                std::thread([&] { store->Interrupt(); }).join();
            }
            return true;
        },
        &error);
    EXPECT_FALSE(ok);
    EXPECT_LT(seen, 20);
    EXPECT_TRUE(store->Interrupted()) << error;
    EXPECT_NE(error.find("interrupt"), std::string::npos) << error;

    error.clear();
    EXPECT_EQ(store->Page({}, 0, 100, &error).size(), 20u) << error;
    store->Interrupt();
    EXPECT_EQ(store->Page({}, 0, 100, &error).size(), 20u) << error;
    EXPECT_TRUE(error.empty()) << error;
}

// A batch is all or none: a malformed uuid in it leaves nothing written; a
// uuid already stored is that record again and changes nothing.
TEST_F(RecordStoreTest, BatchesAreAllOrNoneAndRepeatsChangeNothing) {
    auto store = OpenOrFail(path);
    ASSERT_NE(store, nullptr);
    std::string error;
    for (const std::string bad :
         {"", "not-a-uuid", "5EED0000-0000-4000-8000-000000000001",
          "5eed0000-0000-4000-8000-00000000000g", "5eed0000x0000-4000-8000-000000000001"}) {
        std::vector<TestRecord> batch = Sequence(0, 3);
        batch[1].uuid = bad;
        error.clear();
        EXPECT_FALSE(store->Insert(batch, &error)) << bad;
        EXPECT_NE(error.find("uuid"), std::string::npos) << error;
    }
    EXPECT_TRUE(store->Page({}, 0, 10, &error).empty());

    InsertOrFail(*store, Sequence(0, 3));
    TestRecord changed = SequenceRecord(1);
    changed.serial = "another";
    InsertOrFail(*store, {changed, SequenceRecord(3)});
    const auto page = store->Page({}, 0, 10, &error);
    ASSERT_EQ(page.size(), 4u);
    EXPECT_EQ(page[0].record, SequenceRecord(3));
    EXPECT_EQ(page[2].record, SequenceRecord(1));
}

// Each filter alone and together, and keyset paging through what they take,
// against the same selection made by hand over the records.
TEST_F(RecordStoreTest, FiltersAndPaging) {
    auto store = OpenOrFail(path);
    ASSERT_NE(store, nullptr);
    std::vector<TestRecord> records = Sequence(0, 200);
    records[7].serial = "A%B_C";  // pattern characters are plain text
    records[8].serial = "AxxBxC";
    records[9].serial = "ab%b_c";
    InsertOrFail(*store, records);

    const std::int64_t t0 = records[0].timeMs;
    struct Case {
        const char* name;
        RecordFilter filter;
        std::function<bool(const TestRecord&)> takes;
    };
    const std::vector<Case> cases = {
        {"everything", {}, [](const TestRecord&) { return true; }},
        {"since",
         {t0 + 50 * 1003, {}, {}, {}, {}},
         [&](const TestRecord& r) { return r.timeMs >= t0 + 50 * 1003; }},
        {"until",
         {{}, t0 + 50 * 1003, {}, {}, {}},
         [&](const TestRecord& r) { return r.timeMs < t0 + 50 * 1003; }},
        {"range",
         {t0 + 20 * 1003, t0 + 120 * 1003, {}, {}, {}},
         [&](const TestRecord& r) {
             return r.timeMs >= t0 + 20 * 1003 && r.timeMs < t0 + 120 * 1003;
         }},
        {"pass",
         {{}, {}, RecordVerdict::Pass, {}, {}},
         [](const TestRecord& r) { return r.verdict == RecordVerdict::Pass; }},
        {"fail",
         {{}, {}, RecordVerdict::Fail, {}, {}},
         [](const TestRecord& r) { return r.verdict == RecordVerdict::Fail; }},
        {"serial",
         {{}, {}, {}, "_%1", {}},
         [](const TestRecord& r) { return r.serial.find("_%1") != std::string::npos; }},
        {"serial percent",
         {{}, {}, {}, "%B_", {}},
         [](const TestRecord& r) { return r.serial.find("%B_") != std::string::npos; }},
        {"serial Chinese",
         {{}, {}, {}, "面板", {}},
         [](const TestRecord& r) { return r.serial.find("面板") != std::string::npos; }},
        {"serial none", {{}, {}, {}, "zzz", {}}, [](const TestRecord&) { return false; }},
        {"page", {{}, {}, {}, {}, 5}, [](const TestRecord& r) { return r.page == 5; }},
        {"all together",
         {t0 + 10 * 1003, t0 + 190 * 1003, RecordVerdict::Pass, "1", 17},
         [&](const TestRecord& r) {
             return r.timeMs >= t0 + 10 * 1003 && r.timeMs < t0 + 190 * 1003 &&
                    r.verdict == RecordVerdict::Pass && r.serial.find('1') != std::string::npos &&
                    r.page == 17;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::int64_t> expected;  // ids, newest first
        for (std::size_t i = records.size(); i-- > 0;) {
            if (c.takes(records[i])) {
                expected.push_back(static_cast<std::int64_t>(i + 1));
            }
        }
        std::string error;
        for (const int pageSize : {1, 7, 1000}) {
            std::vector<std::int64_t> listed;
            std::int64_t before = 0;
            for (int pages = 0; pages < 300; ++pages) {
                const auto page = store->Page(c.filter, before, pageSize, &error);
                ASSERT_LE(page.size(), static_cast<std::size_t>(pageSize));
                for (const StoredRecord& s : page) {
                    listed.push_back(s.id);
                    EXPECT_EQ(s.record, records[s.id - 1]);
                }
                if (page.size() < static_cast<std::size_t>(pageSize)) {
                    break;
                }
                before = page.back().id;
            }
            EXPECT_EQ(listed, expected) << "pages of " << pageSize;
        }
        std::vector<std::int64_t> each;
        ASSERT_TRUE(store->ForEach(
            c.filter, [&](const StoredRecord& s) { return each.push_back(s.id), true; }, &error))
            << error;
        EXPECT_EQ(std::vector<std::int64_t>(each.rbegin(), each.rend()), expected);
        const auto total = store->Summary(c.filter, SummaryBy::Total, &error);
        ASSERT_EQ(total.size(), 1u);
        EXPECT_EQ(total[0].tested, static_cast<std::int64_t>(expected.size()));
    }
    std::string error;
    EXPECT_TRUE(store->Page({}, 0, 0, &error).empty());
    // A sink that stops is not an error.
    int taken = 0;
    EXPECT_TRUE(store->ForEach(
        {}, [&](const StoredRecord&) { return ++taken < 3; }, &error));
    EXPECT_EQ(taken, 3);
}

// Time ranges are found through the time index or by walking the ids,
// depending on how far apart the range's ids lie; both give the same
// records, also when the station's clock went back between records. The
// ids here jump by half a million half-way, so that wide ranges take the
// walk.
TEST_F(RecordStoreTest, TimeRangesWhateverTheClockDid) {
    {
        auto store = OpenOrFail(path);
        ASSERT_NE(store, nullptr);
        InsertOrFail(*store, Sequence(0, 60));
    }
    RawExec(path, "UPDATE records SET id = id + 500000 WHERE id > 30");
    auto store = OpenOrFail(path);
    ASSERT_NE(store, nullptr);
    std::vector<TestRecord> late = Sequence(100, 40);
    for (std::size_t i = 0; i < late.size(); ++i) {
        // The clock set back by a minute after the 10th of these.
        late[i].timeMs = SequenceRecord(59).timeMs + 1000 * static_cast<std::int64_t>(i) -
                         (i >= 10 ? 60'000 : 0);
    }
    InsertOrFail(*store, late);

    std::string error;
    std::vector<StoredRecord> all;  // oldest first
    ASSERT_TRUE(store->ForEach(
        {}, [&](const StoredRecord& s) { return all.push_back(s), true; }, &error));
    ASSERT_EQ(all.size(), 100u);
    const std::int64_t t0 = all[0].record.timeMs;
    const std::int64_t tEnd = all[59].record.timeMs;
    struct Range {
        std::optional<std::int64_t> since, until;
        std::optional<RecordVerdict> verdict;
    };
    const Range ranges[] = {
        {t0, t0 + 10 * 1003, {}},              // narrow, low ids
        {t0 + 20 * 1003, t0 + 40 * 1003, {}},  // across the jump
        {{}, t0 + 45 * 1003, {}},              // open below, across
        {t0 + 40 * 1003, {}, {}},              // open above, with the clock's step
        {tEnd - 50'000, tEnd + 5'000, {}},     // where the clock went back
        {t0, {}, RecordVerdict::Fail},         // everything, one verdict
        {tEnd - 70'000, tEnd - 30'000, RecordVerdict::Pass},
    };
    for (const Range& range : ranges) {
        RecordFilter filter;
        filter.sinceMs = range.since;
        filter.untilMs = range.until;
        filter.verdict = range.verdict;
        std::vector<std::int64_t> expected;  // oldest first
        for (const StoredRecord& s : all) {
            if ((!range.since || s.record.timeMs >= *range.since) &&
                (!range.until || s.record.timeMs < *range.until) &&
                (!range.verdict || s.record.verdict == *range.verdict)) {
                expected.push_back(s.id);
            }
        }
        SCOPED_TRACE(::testing::Message() << "range of " << expected.size());
        std::vector<std::int64_t> each;
        ASSERT_TRUE(store->ForEach(
            filter, [&](const StoredRecord& s) { return each.push_back(s.id), true; }, &error));
        EXPECT_EQ(each, expected);
        std::vector<std::int64_t> paged;
        for (std::int64_t before = 0;;) {
            const auto page = store->Page(filter, before, 4, &error);
            for (const auto& s : page) {
                paged.insert(paged.begin(), s.id);
            }
            if (page.size() < 4) {
                break;
            }
            before = page.back().id;
        }
        EXPECT_EQ(paged, expected);
    }
}

TEST_F(RecordStoreTest, SummaryByTotalDayAndHead) {
    auto store = OpenOrFail(path);
    ASSERT_NE(store, nullptr);
    std::string error;
    const auto empty = store->Summary({}, SummaryBy::Total, &error);
    ASSERT_EQ(empty.size(), 1u) << error;
    EXPECT_EQ(empty[0].tested, 0);
    EXPECT_TRUE(store->Summary({}, SummaryBy::Day, &error).empty());

    // 2026-03-01 23:30 UTC is already 2 March at +08:00, still 1 March at
    // UTC, and 1 March at -05:00 until 05:00 UTC on the 2nd.
    constexpr std::int64_t kMarch1At2330Utc = 1772407800000;
    auto at = [&](std::int64_t timeMs, std::int32_t offset, RecordVerdict verdict, int page,
                  int row, int column, std::uint64_t seq) {
        TestRecord r = SequenceRecord(seq);
        r.timeMs = timeMs;
        r.utcOffsetMinutes = offset;
        r.verdict = verdict;
        r.page = page;
        r.row = row;
        r.column = column;
        return r;
    };
    constexpr auto P = RecordVerdict::Pass;
    constexpr auto F = RecordVerdict::Fail;
    InsertOrFail(*store, {
                             at(kMarch1At2330Utc, 480, P, 0, 1, 1, 1),
                             at(kMarch1At2330Utc, 0, F, 0, 1, 1, 2),
                             at(kMarch1At2330Utc + 3600000 * 4, -300, P, 1, 1, 2, 3),
                             at(kMarch1At2330Utc + 3600000 * 6, -300, F, 1, 1, 2, 4),
                             at(kMarch1At2330Utc + 3600000 * 6, -300, P, 12, 2, 10, 5),
                         });
    const auto total = store->Summary({}, SummaryBy::Total, &error);
    ASSERT_EQ(total.size(), 1u);
    EXPECT_EQ(total[0].key, "");
    EXPECT_EQ(total[0].tested, 5);
    EXPECT_EQ(total[0].passed, 3);
    EXPECT_EQ(total[0].failed, 2);

    auto rows = [](const std::vector<SummaryRow>& summary) {
        std::vector<std::string> text;
        for (const SummaryRow& r : summary) {
            text.push_back(r.key + " " + std::to_string(r.tested) + "/" + std::to_string(r.passed) +
                           "/" + std::to_string(r.failed));
        }
        return text;
    };
    EXPECT_EQ(rows(store->Summary({}, SummaryBy::Day, &error)),
              (std::vector<std::string>{"2026-03-01 2/1/1", "2026-03-02 3/2/1"}));
    EXPECT_EQ(rows(store->Summary({}, SummaryBy::Head, &error)),
              (std::vector<std::string>{"0:1,1 2/1/1", "1:1,2 2/1/1", "12:2,10 1/1/0"}));
    RecordFilter fails;
    fails.verdict = F;
    EXPECT_EQ(rows(store->Summary(fails, SummaryBy::Head, &error)),
              (std::vector<std::string>{"0:1,1 1/0/1", "1:1,2 1/0/1"}));
}

TEST_F(RecordStoreTest, UnforwardedOldestFirstUntilMarked) {
    auto store = OpenOrFail(path);
    ASSERT_NE(store, nullptr);
    InsertOrFail(*store, Sequence(0, 10));
    std::string error;
    EXPECT_EQ(store->UnforwardedCount(&error), 10);
    auto batch = store->Unforwarded(4, &error);
    ASSERT_EQ(batch.size(), 4u);
    EXPECT_EQ(batch[0].id, 1);
    EXPECT_EQ(batch[3].record, SequenceRecord(3));
    const std::vector<std::int64_t> ids = {1, 2, 3, 4, 7};
    ASSERT_TRUE(store->MarkForwarded(ids, &error)) << error;
    EXPECT_EQ(store->UnforwardedCount(&error), 5);
    batch = store->Unforwarded(100, &error);
    std::vector<std::int64_t> left;
    for (const auto& s : batch) {
        left.push_back(s.id);
    }
    EXPECT_EQ(left, (std::vector<std::int64_t>{5, 6, 8, 9, 10}));
    EXPECT_TRUE(store->Find(7, &error)->forwarded);
    EXPECT_FALSE(store->Find(8, &error)->forwarded);
    // Marking again, or ids that do not exist, changes nothing.
    ASSERT_TRUE(store->MarkForwarded(ids, &error));
    const std::vector<std::int64_t> missing = {555};
    ASSERT_TRUE(store->MarkForwarded(missing, &error));
    EXPECT_EQ(store->UnforwardedCount(&error), 5);
}

// A database of the first version, made here with its own SQL and holding
// records, is migrated on open: its records stay, unforwarded, and the
// index of unforwarded records exists.
TEST_F(RecordStoreTest, VersionOneIsMigrated) {
    RawExec(path, kVersion1Schema);
    {
        // Version-1 rows, written by the store's own insert code before the
        // migration would be cheating: written with SQL here.
        auto rec = SequenceRecord(42);
        std::string blob;
        for (const ChannelRecord& c : rec.channels) {
            blob += std::string(1, static_cast<char>(c.mode)) +
                    std::string(1, static_cast<char>(c.channelClass)) +
                    std::string(1, static_cast<char>(c.greenMark));
            for (std::int32_t v : {c.value, c.low, c.high, c.upper, c.lower, c.reference}) {
                const auto u = static_cast<std::uint32_t>(v);
                for (int b = 0; b < 4; ++b) {
                    blob += static_cast<char>((u >> (8 * b)) & 0xff);
                }
            }
        }
        std::string hex;
        for (unsigned char ch : blob) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", ch);
            hex += two;
        }
        auto q = [](const std::string& s) {
            std::string out = "'";
            for (char c : s) {
                out += c == '\'' ? "''" : std::string(1, c);
            }
            return out + "'";
        };
        RawExec(path, "INSERT INTO records VALUES (1, " + q(rec.uuid) + ", " +
                          std::to_string(rec.timeMs) + ", " + std::to_string(rec.utcOffsetMinutes) +
                          ", " + std::to_string(rec.startMs) + ", " +
                          std::to_string(rec.durationMs) + ", " + q(rec.station) + ", " +
                          q(rec.operatorName) + ", " + q(rec.config) + ", " + q(rec.configSha256) +
                          ", " + q(rec.board.family) + ", " + q(rec.board.manufacturer) + ", " +
                          q(rec.board.product) + ", " + q(rec.board.firmware) + ", " +
                          q(rec.board.deviceId) + ", " + std::to_string(rec.board.machineType) +
                          ", " + std::to_string(rec.page) + ", " + std::to_string(rec.row) + ", " +
                          std::to_string(rec.column) + ", " + q(rec.serial) + ", " +
                          q(VerdictText(rec.verdict)) + ", " + q(rec.reason) + ", " +
                          (rec.fpc ? "1" : "0") + ", " + q(WorstVerdictText(rec.worst)) + ", " +
                          std::to_string(rec.steps) + ", " + std::to_string(rec.failedSteps) +
                          ", x'" + hex + "')");
    }
    std::string error;
    {
        // Read-only, it cannot be migrated, but its records read.
        auto reader = OpenOrFail(path, RecordStore::Mode::ReadOnly);
        ASSERT_NE(reader, nullptr);
        EXPECT_EQ(reader->SchemaVersion(), 1);
        const auto found = reader->Find(1, &error);
        ASSERT_TRUE(found) << error;
        EXPECT_EQ(found->record, SequenceRecord(42));
    }
    auto store = OpenOrFail(path);
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store->SchemaVersion(), 2);
    const auto found = store->Find(1, &error);
    ASSERT_TRUE(found) << error;
    EXPECT_EQ(found->record, SequenceRecord(42));
    EXPECT_FALSE(found->forwarded);
    EXPECT_EQ(store->UnforwardedCount(&error), 1);
    InsertOrFail(*store, {SequenceRecord(43)});
    EXPECT_EQ(store->UnforwardedCount(&error), 2);
    EXPECT_TRUE(store->IntegrityOk(&error)) << error;
    store.reset();

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "SELECT (SELECT user_version FROM pragma_user_version), "
                                 "(SELECT count(*) FROM sqlite_schema WHERE type = 'index' AND "
                                 "name = 'records_unforwarded'), "
                                 "(SELECT journal_mode FROM pragma_journal_mode)",
                                 -1, &stmt, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(stmt, 0), 2);
    EXPECT_EQ(sqlite3_column_int(stmt, 1), 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 2)), "wal");
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

// What cannot be a records database of this station is refused, and a newer
// station's database is not written at all.
TEST_F(RecordStoreTest, ForeignAndNewerDatabasesAreRefused) {
    std::string error;
    {
        auto store = OpenOrFail(path);
        ASSERT_NE(store, nullptr);
        InsertOrFail(*store, Sequence(0, 3));
    }
    RawExec(path, "PRAGMA user_version = 3");
    const std::string before = test::ReadWhole(path);
    for (const auto mode : {RecordStore::Mode::ReadWrite, RecordStore::Mode::ReadOnly}) {
        error.clear();
        EXPECT_EQ(RecordStore::Open(path, mode, &error), nullptr);
        EXPECT_NE(error.find("newer"), std::string::npos) << error;
    }
    EXPECT_TRUE(test::ReadWhole(path) == before) << "the file was written";

    // Another program's databases, with and without a version of their own,
    // are refused and not switched to WAL either.
    for (const std::string sql :
         {"CREATE TABLE other (x)", "CREATE TABLE other (x); PRAGMA user_version = 1"}) {
        SCOPED_TRACE(sql);
        const std::string foreign = dir / "foreign.db";
        std::filesystem::remove(foreign);
        RawExec(foreign, sql);
        const std::string untouched = test::ReadWhole(foreign);
        for (const auto mode : {RecordStore::Mode::ReadWrite, RecordStore::Mode::ReadOnly}) {
            error.clear();
            EXPECT_EQ(RecordStore::Open(foreign, mode, &error), nullptr);
            EXPECT_NE(error.find("not a records database"), std::string::npos) << error;
        }
        EXPECT_TRUE(test::ReadWhole(foreign) == untouched) << "the file was written";
    }

    const std::string garbage = dir / "garbage.db";
    test::WriteWhole(garbage, std::string(4096, 'x'));
    for (const auto mode : {RecordStore::Mode::ReadWrite, RecordStore::Mode::ReadOnly}) {
        error.clear();
        EXPECT_EQ(RecordStore::Open(garbage, mode, &error), nullptr);
        EXPECT_FALSE(error.empty());
    }
    error.clear();
    EXPECT_EQ(RecordStore::Open(dir / "missing.db", RecordStore::Mode::ReadOnly, &error), nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.db"));
    EXPECT_EQ(RecordStore::Open("", RecordStore::Mode::ReadWrite, &error), nullptr);
}

// Channel data of the wrong size (a damaged file, another program) is an
// error for that record; the others still read.
TEST_F(RecordStoreTest, DamagedChannelDataIsThatRecordsError) {
    {
        auto store = OpenOrFail(path);
        ASSERT_NE(store, nullptr);
        InsertOrFail(*store, Sequence(0, 5));
    }
    RawExec(path,
            "UPDATE records SET channels = x'0102' WHERE id = 2;"
            "UPDATE records SET channels = zeroblob(865) WHERE id = 3;");
    auto store = OpenOrFail(path);
    ASSERT_NE(store, nullptr);
    std::string error;
    EXPECT_FALSE(store->Find(2, &error));
    EXPECT_NE(error.find("record 2"), std::string::npos) << error;
    EXPECT_TRUE(store->Find(1, &error));

    error.clear();
    const auto page = store->Page({}, 0, 10, &error);
    std::vector<std::int64_t> ids;
    for (const auto& s : page) {
        ids.push_back(s.id);
    }
    EXPECT_EQ(ids, (std::vector<std::int64_t>{5, 4, 1}));
    EXPECT_NE(error.find("record 2"), std::string::npos) << error;
    EXPECT_NE(error.find("record 3"), std::string::npos) << error;

    error.clear();
    int seen = 0;
    EXPECT_FALSE(store->ForEach(
        {}, [&](const StoredRecord&) { return ++seen, true; }, &error));
    EXPECT_EQ(seen, 3);
    EXPECT_NE(error.find("record 3"), std::string::npos) << error;

    error.clear();
    EXPECT_EQ(store->Unforwarded(10, &error).size(), 3u);
    EXPECT_FALSE(error.empty());
}

TEST_F(RecordStoreTest, MakesItsFoldersAndFollowsXdg) {
    const std::string nested = dir / "a/b/c/records.db";
    auto store = OpenOrFail(nested);
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store->Path(), nested);
    EXPECT_TRUE(std::filesystem::exists(nested));

    const char* oldXdg = std::getenv("XDG_DATA_HOME");
    const char* oldHome = std::getenv("HOME");
    const std::string savedXdg = oldXdg != nullptr ? oldXdg : "";
    const std::string savedHome = oldHome != nullptr ? oldHome : "";
    ::setenv("HOME", "/home/station", 1);
    ::setenv("XDG_DATA_HOME", "/data/xdg", 1);
    EXPECT_EQ(DefaultRecordsPath(), "/data/xdg/kaldrixplus/records.db");
    ::setenv("XDG_DATA_HOME", "relative/xdg", 1);
    EXPECT_EQ(DefaultRecordsPath(), "/home/station/.local/share/kaldrixplus/records.db");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(DefaultRecordsPath(), "/home/station/.local/share/kaldrixplus/records.db");
    if (oldXdg != nullptr) {
        ::setenv("XDG_DATA_HOME", savedXdg.c_str(), 1);
    }
    if (oldHome != nullptr) {
        ::setenv("HOME", savedHome.c_str(), 1);
    } else {
        ::unsetenv("HOME");
    }
}

}  // namespace
}  // namespace kx
