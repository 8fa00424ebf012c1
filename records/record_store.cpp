// SPDX-License-Identifier: MIT
#include "records/record_store.h"

#include <pwd.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <utility>

namespace kx {

namespace {

// How long a statement waits for another connection's write lock before it
// gives up with SQLITE_BUSY (the writer then tries the batch again later).
constexpr int kBusyTimeoutMs = 4000;

// The channels of a record, in one BLOB of fixed size: kChannels entries of
// kChannelBytes, channel 1 first, each
//   offset  0  mode       u8
//   offset  1  class      u8
//   offset  2  green mark u8
//   offset  3  value      i32 little-endian
//   offset  7  low        i32
//   offset 11  high       i32
//   offset 15  upper      i32
//   offset 19  lower      i32
//   offset 23  reference  i32
// A row per channel would make 32 rows per record (640 million a year);
// the records window and the exports always want a record's channels
// together.
constexpr std::size_t kChannelBytes = 27;
constexpr std::size_t kChannelBlobBytes = kChannelBytes * kChannels;

// The indexes. A record's row is some 1.2 kB, nearly all of it channels,
// and a station writes some 20 million a year, so no listing may read rows
// it does not give:
//   records_time     time ranges; with the offset and the verdict, the
//                    summaries by day read only the index
//   records_verdict  the verdict filter, in id order for keyset paging
//   records_page     the head filter, likewise
//   records_filter   every filtered column in id order (some 50 bytes a
//                    record): a serial substring or a long time range is
//                    tested there, newest first, and stops at the page's end
//   uuid (unique)    a record written twice is stored once
// Version 1: the records. Kept as it was written then: a fresh database is
// made with it and then migrated like an old one, so both end up with the
// same schema.
constexpr const char* kSchemaV1 = R"sql(
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

// Version 2: whether the line's server has the record, and an index of the
// rows it does not have yet (small: it holds only those).
constexpr const char* kMigrateV1ToV2 = R"sql(
ALTER TABLE records ADD COLUMN forwarded INTEGER NOT NULL DEFAULT 0;
CREATE INDEX records_unforwarded ON records (id) WHERE forwarded = 0;
PRAGMA user_version = 2;
)sql";

constexpr const char* kColumnsV1 =
    "id, uuid, time_ms, utc_offset_min, start_ms, duration_ms, station, operator, config, "
    "config_sha256, board_family, board_manufacturer, board_product, board_firmware, "
    "board_device_id, machine_type, head_page, head_row, head_column, serial, verdict, reason, "
    "fpc, worst, steps, failed_steps, channels";

void SetError(std::string* error, std::string text) {
    if (error != nullptr) {
        *error = std::move(text);
    }
}

std::string DbError(sqlite3* db, const char* what) {
    return std::string(what) + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory");
}

// A prepared statement, finalised when it goes.
class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) {
        m_rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &m_stmt, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool Ok() const { return m_rc == SQLITE_OK && m_stmt != nullptr; }
    sqlite3_stmt* get() const { return m_stmt; }

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_rc = SQLITE_ERROR;
};

bool Exec(sqlite3* db, const char* sql, std::string* error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        SetError(error, std::string(message != nullptr ? message : sqlite3_errmsg(db)));
        sqlite3_free(message);
        return false;
    }
    return true;
}

// One integer from a statement that gives one row.
bool QueryInt(sqlite3* db, const char* sql, std::int64_t* value, std::string* error) {
    Statement stmt(db, sql);
    if (!stmt.Ok()) {
        SetError(error, DbError(db, "cannot read the database"));
        return false;
    }
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW) {
        SetError(error, DbError(db, "cannot read the database"));
        return false;
    }
    *value = sqlite3_column_int64(stmt.get(), 0);
    return true;
}

void PutI32(std::uint8_t* out, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    out[0] = static_cast<std::uint8_t>(bits);
    out[1] = static_cast<std::uint8_t>(bits >> 8);
    out[2] = static_cast<std::uint8_t>(bits >> 16);
    out[3] = static_cast<std::uint8_t>(bits >> 24);
}

std::int32_t GetI32(const std::uint8_t* in) {
    const std::uint32_t bits = std::uint32_t{in[0]} | (std::uint32_t{in[1]} << 8) |
                               (std::uint32_t{in[2]} << 16) | (std::uint32_t{in[3]} << 24);
    return static_cast<std::int32_t>(bits);
}

std::array<std::uint8_t, kChannelBlobBytes> EncodeChannels(
    const std::array<ChannelRecord, kChannels>& channels) {
    std::array<std::uint8_t, kChannelBlobBytes> blob{};
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const ChannelRecord& c = channels[i];
        std::uint8_t* out = blob.data() + i * kChannelBytes;
        out[0] = c.mode;
        out[1] = c.channelClass;
        out[2] = c.greenMark;
        PutI32(out + 3, c.value);
        PutI32(out + 7, c.low);
        PutI32(out + 11, c.high);
        PutI32(out + 15, c.upper);
        PutI32(out + 19, c.lower);
        PutI32(out + 23, c.reference);
    }
    return blob;
}

bool DecodeChannels(const void* data, std::size_t size,
                    std::array<ChannelRecord, kChannels>* channels, std::string* why) {
    if (size != kChannelBlobBytes || data == nullptr) {
        *why = "channel data has " + std::to_string(size) + " bytes, expected " +
               std::to_string(kChannelBlobBytes);
        return false;
    }
    const auto* in = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < channels->size(); ++i) {
        const std::uint8_t* p = in + i * kChannelBytes;
        ChannelRecord& c = (*channels)[i];
        c.mode = p[0];
        c.channelClass = p[1];
        c.greenMark = p[2];
        c.value = GetI32(p + 3);
        c.low = GetI32(p + 7);
        c.high = GetI32(p + 11);
        c.upper = GetI32(p + 15);
        c.lower = GetI32(p + 19);
        c.reference = GetI32(p + 23);
    }
    return true;
}

// Adds `note` to a list of notes separated by "; ".
void AppendNote(std::string* notes, const std::string& note) {
    if (!notes->empty()) {
        *notes += "; ";
    }
    *notes += note;
}

std::string ColumnText(sqlite3_stmt* stmt, int column) {
    const auto* text = sqlite3_column_text(stmt, column);
    const int bytes = sqlite3_column_bytes(stmt, column);
    if (text == nullptr || bytes <= 0) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(bytes));
}

// A row of a SELECT of kColumnsV1 + forwarded. False with `why` when the
// row cannot be a record (its channel data or verdicts are not what this
// station writes).
bool ReadRow(sqlite3_stmt* stmt, StoredRecord* out, std::string* why) {
    int col = 0;
    out->id = sqlite3_column_int64(stmt, col++);
    TestRecord& r = out->record;
    r.uuid = ColumnText(stmt, col++);
    r.timeMs = sqlite3_column_int64(stmt, col++);
    r.utcOffsetMinutes = static_cast<std::int32_t>(sqlite3_column_int64(stmt, col++));
    r.startMs = sqlite3_column_int64(stmt, col++);
    r.durationMs = sqlite3_column_int64(stmt, col++);
    r.station = ColumnText(stmt, col++);
    r.operatorName = ColumnText(stmt, col++);
    r.config = ColumnText(stmt, col++);
    r.configSha256 = ColumnText(stmt, col++);
    r.board.family = ColumnText(stmt, col++);
    r.board.manufacturer = ColumnText(stmt, col++);
    r.board.product = ColumnText(stmt, col++);
    r.board.firmware = ColumnText(stmt, col++);
    r.board.deviceId = ColumnText(stmt, col++);
    r.board.machineType = static_cast<std::int32_t>(sqlite3_column_int64(stmt, col++));
    r.page = static_cast<std::int32_t>(sqlite3_column_int64(stmt, col++));
    r.row = static_cast<std::int32_t>(sqlite3_column_int64(stmt, col++));
    r.column = static_cast<std::int32_t>(sqlite3_column_int64(stmt, col++));
    r.serial = ColumnText(stmt, col++);
    const std::string verdict = ColumnText(stmt, col++);
    r.reason = ColumnText(stmt, col++);
    r.fpc = sqlite3_column_int64(stmt, col++) != 0;
    const std::string worst = ColumnText(stmt, col++);
    r.steps = sqlite3_column_int64(stmt, col++);
    r.failedSteps = sqlite3_column_int64(stmt, col++);
    const int blobColumn = col++;
    out->forwarded = sqlite3_column_int64(stmt, col++) != 0;

    // Only a damaged row needs its name.
    const auto prefix = [out] { return "record " + std::to_string(out->id) + ": "; };
    if (verdict == "PASS") {
        r.verdict = RecordVerdict::Pass;
    } else if (verdict == "FAIL") {
        r.verdict = RecordVerdict::Fail;
    } else {
        *why = prefix() + "unknown verdict \"" + verdict + "\"";
        return false;
    }
    if (worst == "PASS") {
        r.worst = WorstVerdict::Pass;
    } else if (worst == "NODATA") {
        r.worst = WorstVerdict::NoData;
    } else if (worst == "FAIL") {
        r.worst = WorstVerdict::Fail;
    } else {
        *why = prefix() + "unknown worst verdict \"" + worst + "\"";
        return false;
    }
    // sqlite3_column_blob before sqlite3_column_bytes: the size is that of
    // the value as the blob conversion left it.
    const void* blob = sqlite3_column_blob(stmt, blobColumn);
    const auto bytes = static_cast<std::size_t>(sqlite3_column_bytes(stmt, blobColumn));
    std::string blobWhy;
    if (!DecodeChannels(blob, bytes, &r.channels, &blobWhy)) {
        *why = prefix() + blobWhy;
        return false;
    }
    return true;
}

// The text of the uuid that NewUuid makes: 8-4-4-4-12 lower-case hex digits.
bool WellFormedUuid(const std::string& uuid) {
    if (uuid.size() != 36) {
        return false;
    }
    for (std::size_t i = 0; i < uuid.size(); ++i) {
        const char c = uuid[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') {
                return false;
            }
        } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

// The WHERE clause of a filter and its values, bound in order.
struct Where {
    std::string sql;  // "" or " WHERE ..."
    struct Value {
        bool isText = false;
        std::int64_t number = 0;
        std::string text;
    };
    std::vector<Value> values;

    void Add(const std::string& clause, Value value) {
        sql += sql.empty() ? " WHERE " : " AND ";
        sql += clause;
        values.push_back(std::move(value));
    }
    // Binds the values from parameter 1; returns the next free parameter.
    int Bind(sqlite3_stmt* stmt) const {
        int index = 1;
        for (const Value& v : values) {
            if (v.isText) {
                sqlite3_bind_text64(stmt, index++, v.text.data(), v.text.size(), SQLITE_TRANSIENT,
                                    SQLITE_UTF8);
            } else {
                sqlite3_bind_int64(stmt, index++, v.number);
            }
        }
        return index;
    }
};

Where MakeWhere(const RecordFilter& filter) {
    Where where;
    if (filter.sinceMs) {
        where.Add("time_ms >= ?", {false, *filter.sinceMs, {}});
    }
    if (filter.untilMs) {
        where.Add("time_ms < ?", {false, *filter.untilMs, {}});
    }
    if (filter.verdict) {
        where.Add("verdict = ?", {true, 0, VerdictText(*filter.verdict)});
    }
    if (!filter.serialContains.empty()) {
        // instr, not LIKE: the text is a plain substring, '%' and '_' in a
        // serial are themselves.
        where.Add("instr(serial, ?) > 0", {true, 0, filter.serialContains});
    }
    if (filter.page) {
        where.Add("head_page = ?", {false, *filter.page, {}});
    }
    return where;
}

// Records in id order under a filter with a time range. The time index
// finds the range but gives it in time order, and SQLite would sort the
// whole rows of the range again by id for each page. A range of a few days
// (the common case: today, a given day or week) is cheap to take through the
// index as bare ids, sorted, then the rows by id. A range of months is
// better tested in id order in records_filter, from the newest end: records
// are written in time order, so it meets the range soon. The choice rests
// on the distance between the ids of the range's first and last record in
// time (the number of its records when the clock never went back); either
// way the rows are those the filter takes, only the cost differs.
constexpr std::int64_t kSortedIdsAtMost = 200'000;

std::int64_t TimeRangeSpan(sqlite3* db, const RecordFilter& filter) {
    RecordFilter range;
    range.sinceMs = filter.sinceMs;
    range.untilMs = filter.untilMs;
    const Where where = MakeWhere(range);
    std::int64_t ends[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        Statement stmt(
            db, "SELECT id FROM records INDEXED BY records_time" + where.sql +
                    (i == 0 ? " ORDER BY time_ms LIMIT 1" : " ORDER BY time_ms DESC LIMIT 1"));
        if (!stmt.Ok()) {
            return std::numeric_limits<std::int64_t>::max();
        }
        where.Bind(stmt.get());
        const int rc = sqlite3_step(stmt.get());
        if (rc == SQLITE_DONE) {
            return 0;
        }
        if (rc != SQLITE_ROW) {
            return std::numeric_limits<std::int64_t>::max();
        }
        ends[i] = sqlite3_column_int64(stmt.get(), 0);
    }
    return (ends[0] > ends[1] ? ends[0] - ends[1] : ends[1] - ends[0]) + 1;
}

// "FROM ... WHERE ..." of the records a filter takes, for a SELECT that ends
// with "ORDER BY id [DESC] [LIMIT ?]". Binds: the filter's values, then with
// `limited` the limit once for the ids and once for the SELECT.
std::string RecordsFrom(sqlite3* db, const RecordFilter& filter, const Where& where,
                        const char* order, bool limited, bool* innerLimit) {
    *innerLimit = false;
    const bool timeRange = filter.sinceMs || filter.untilMs;
    if (!timeRange && filter.serialContains.empty()) {
        // The verdict and head indexes, or the table itself, in id order.
        return " FROM records" + where.sql;
    }
    const char* index = "records_filter";
    if (timeRange && TimeRangeSpan(db, filter) <= kSortedIdsAtMost) {
        index = "records_time";
    }
    *innerLimit = limited;
    return std::string(" FROM records WHERE id IN (SELECT id FROM records INDEXED BY ") + index +
           where.sql + " ORDER BY id " + order + (limited ? " LIMIT ?)" : ")");
}

// Steps `stmt` until its end, or until `sink` returns false, handing it each
// row that reads whole; a damaged row is left out and named in `skipped`.
// The last step's result code (SQLITE_DONE when `sink` stopped it).
int StepRows(sqlite3_stmt* stmt, const std::function<bool(StoredRecord&)>& sink,
             std::string* skipped) {
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        StoredRecord record;
        std::string why;
        if (!ReadRow(stmt, &record, &why)) {
            AppendNote(skipped, why);
        } else if (!sink(record)) {
            return SQLITE_DONE;
        }
    }
    return rc;
}

// Every row of `stmt` that reads whole. A damaged row is left out and named
// in `error`; a database error empties the list and says that `what`
// failed.
std::vector<StoredRecord> ReadRows(sqlite3_stmt* stmt, std::string* error, const char* what) {
    std::vector<StoredRecord> out;
    std::string skipped;
    const int rc = StepRows(
        stmt,
        [&out](StoredRecord& record) {
            out.push_back(std::move(record));
            return true;
        },
        &skipped);
    if (rc != SQLITE_DONE) {
        SetError(error, DbError(sqlite3_db_handle(stmt), what));
        out.clear();
    } else if (!skipped.empty()) {
        SetError(error, skipped);
    }
    return out;
}

}  // namespace

std::string DefaultRecordsPath() {
    std::filesystem::path base;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        std::string homeDir = home != nullptr ? home : "";
        if (homeDir.empty() || homeDir[0] != '/') {
            struct passwd pw {};
            struct passwd* found = nullptr;
            std::vector<char> buffer(16384);
            if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 &&
                found != nullptr && found->pw_dir != nullptr) {
                homeDir = found->pw_dir;
            }
        }
        if (homeDir.empty()) {
            homeDir = "/tmp";
        }
        base = std::filesystem::path(homeDir) / ".local" / "share";
    }
    return (base / "kaldrixplus" / "records.db").string();
}

std::unique_ptr<RecordStore> RecordStore::Open(const std::string& path, Mode mode,
                                               std::string* error) {
    if (path.empty()) {
        SetError(error, "no path for the records database");
        return nullptr;
    }
    const bool writable = mode == Mode::ReadWrite;
    if (writable) {
        const std::filesystem::path folder = std::filesystem::path(path).parent_path();
        std::error_code ec;
        if (!folder.empty()) {
            std::filesystem::create_directories(folder, ec);
            if (ec) {
                SetError(error, "cannot create " + folder.string() + ": " + ec.message());
                return nullptr;
            }
        }
    }
    std::unique_ptr<RecordStore> store(new RecordStore());
    store->m_path = path;
    const int flags =
        (writable ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) |
        SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &store->m_db, flags, nullptr) != SQLITE_OK) {
        SetError(error, DbError(store->m_db, ("cannot open " + path).c_str()));
        return nullptr;  // the destructor closes the handle sqlite3 left
    }
    sqlite3* db = store->m_db;
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);

    // The version before anything else: a newer station's database is not
    // touched (even switching to WAL writes its header).
    std::int64_t version = 0;
    std::string why;
    if (!QueryInt(db, "PRAGMA user_version", &version, &why)) {
        SetError(error, path + ": " + why);
        return nullptr;
    }
    if (version > kSchemaVersion) {
        SetError(error, path + " was written by a newer version of the station (records schema " +
                            std::to_string(version) + ", this station knows up to " +
                            std::to_string(kSchemaVersion) + "); it is left untouched");
        return nullptr;
    }
    // Nor is a file of another program: tables, but no version or no
    // records table.
    std::int64_t tables = 0;
    std::int64_t recordsTables = 0;
    if (!QueryInt(db, "SELECT count(*) FROM sqlite_schema", &tables, &why) ||
        !QueryInt(db,
                  "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = 'records'",
                  &recordsTables, &why)) {
        SetError(error, path + ": " + why);
        return nullptr;
    }
    if ((version == 0 && tables != 0) || (version >= 1 && recordsTables != 1)) {
        SetError(error, path + ": not a records database; it is left untouched");
        return nullptr;
    }
    if (writable) {
        // WAL: readers (the records window, the sender) never wait for the
        // writer. FULL: a commit is on the disk when it returns, so a record
        // counted on screen survives a power cut.
        std::string journal;
        {
            Statement wal(db, "PRAGMA journal_mode = WAL");
            if (!wal.Ok() || sqlite3_step(wal.get()) != SQLITE_ROW) {
                SetError(error, DbError(db, (path + ": cannot switch to WAL").c_str()));
                return nullptr;
            }
            journal = ColumnText(wal.get(), 0);
        }
        if (journal != "wal") {
            SetError(error, path + ": cannot switch to WAL (journal mode " + journal + ")");
            return nullptr;
        }
        if (!Exec(db, "PRAGMA synchronous = FULL", &why)) {
            SetError(error, path + ": " + why);
            return nullptr;
        }
        if (version < kSchemaVersion) {
            // Create or migrate in one transaction, the version read again
            // under the write lock: another station process may have done
            // it meanwhile.
            if (!Exec(db, "BEGIN IMMEDIATE", &why)) {
                SetError(error, path + ": " + why);
                return nullptr;
            }
            bool ok = QueryInt(db, "PRAGMA user_version", &version, &why);
            if (ok) {
                ok = QueryInt(db, "SELECT count(*) FROM sqlite_schema", &tables, &why);
            }
            if (ok && version == 0 && tables != 0) {
                ok = false;
                why = "not a records database (it holds other tables)";
            }
            if (ok && version > kSchemaVersion) {
                ok = false;
                why = "written by a newer version of the station";
            }
            if (ok && version == 0) {
                ok = Exec(db, kSchemaV1, &why);
                version = 1;
            }
            if (ok && version == 1) {
                ok = Exec(db, kMigrateV1ToV2, &why);
                version = 2;
            }
            if (ok) {
                ok = Exec(db, "COMMIT", &why);
            }
            if (!ok) {
                Exec(db, "ROLLBACK", nullptr);
                SetError(error, path + ": " + why);
                return nullptr;
            }
        }
    } else if (version < 1) {
        SetError(error, path + ": not a records database (it is empty)");
        return nullptr;
    }
    store->m_version = static_cast<int>(version);
    return store;
}

RecordStore::~RecordStore() {
    // Statements are finalised where they were made; close_v2 copes with
    // any that were not.
    sqlite3_close_v2(m_db);
}

void RecordStore::Interrupt() {
    sqlite3_interrupt(m_db);
}

bool RecordStore::Interrupted() const {
    return sqlite3_errcode(m_db) == SQLITE_INTERRUPT;
}

int RecordStore::SchemaVersion() const {
    return m_version;
}

void RecordStore::SetBusyTimeout(std::chrono::milliseconds timeout) {
    sqlite3_busy_timeout(m_db, static_cast<int>(timeout.count()));
}

const std::string& RecordStore::Path() const {
    return m_path;
}

std::string RecordStore::SelectColumns() const {
    // A version-1 database opened read-only cannot be migrated: its records
    // read as never forwarded.
    return std::string(kColumnsV1) + (m_version >= 2 ? ", forwarded" : ", 0 AS forwarded");
}

bool RecordStore::Insert(std::span<const TestRecord> records, std::string* error) {
    if (records.empty()) {
        return true;
    }
    for (const TestRecord& r : records) {
        if (!WellFormedUuid(r.uuid)) {
            SetError(error, "record with a malformed uuid \"" + r.uuid + "\"");
            return false;
        }
    }
    std::string why;
    if (!Exec(m_db, "BEGIN IMMEDIATE", &why)) {
        SetError(error, "cannot start writing: " + why);
        return false;
    }
    // A uuid the database already has is the same record written again (a
    // batch retried after an error that came after its commit): it is left
    // as it is.
    Statement stmt(
        m_db,
        "INSERT INTO records (uuid, time_ms, utc_offset_min, start_ms, duration_ms, station, "
        "operator, config, config_sha256, board_family, board_manufacturer, board_product, "
        "board_firmware, board_device_id, machine_type, head_page, head_row, head_column, serial, "
        "verdict, reason, fpc, worst, steps, failed_steps, channels) VALUES (?, ?, ?, ?, ?, ?, ?, "
        "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (uuid) DO NOTHING");
    bool ok = stmt.Ok();
    if (!ok) {
        why = DbError(m_db, "cannot prepare the insert");
    }
    for (std::size_t n = 0; ok && n < records.size(); ++n) {
        const TestRecord& r = records[n];
        sqlite3_stmt* s = stmt.get();
        int i = 1;
        auto text = [&](const std::string& value) {
            // 64-bit length: a text too long for SQLite fails the insert
            // (the column stays NULL) instead of being cut.
            sqlite3_bind_text64(s, i++, value.data(), value.size(), SQLITE_STATIC, SQLITE_UTF8);
        };
        text(r.uuid);
        sqlite3_bind_int64(s, i++, r.timeMs);
        sqlite3_bind_int64(s, i++, r.utcOffsetMinutes);
        sqlite3_bind_int64(s, i++, r.startMs);
        sqlite3_bind_int64(s, i++, r.durationMs);
        text(r.station);
        text(r.operatorName);
        text(r.config);
        text(r.configSha256);
        text(r.board.family);
        text(r.board.manufacturer);
        text(r.board.product);
        text(r.board.firmware);
        text(r.board.deviceId);
        sqlite3_bind_int64(s, i++, r.board.machineType);
        sqlite3_bind_int64(s, i++, r.page);
        sqlite3_bind_int64(s, i++, r.row);
        sqlite3_bind_int64(s, i++, r.column);
        text(r.serial);
        sqlite3_bind_text(s, i++, VerdictText(r.verdict), -1, SQLITE_STATIC);
        text(r.reason);
        sqlite3_bind_int64(s, i++, r.fpc ? 1 : 0);
        sqlite3_bind_text(s, i++, WorstVerdictText(r.worst), -1, SQLITE_STATIC);
        sqlite3_bind_int64(s, i++, r.steps);
        sqlite3_bind_int64(s, i++, r.failedSteps);
        const auto blob = EncodeChannels(r.channels);
        sqlite3_bind_blob(s, i++, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(s) != SQLITE_DONE) {
            why = DbError(m_db, "cannot insert a record");
            ok = false;
        }
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
    }
    if (ok && !Exec(m_db, "COMMIT", &why)) {
        why = "cannot commit: " + why;
        ok = false;
    }
    if (!ok) {
        if (!sqlite3_get_autocommit(m_db)) {
            Exec(m_db, "ROLLBACK", nullptr);
        }
        SetError(error, why);
        return false;
    }
    return true;
}

std::vector<StoredRecord> RecordStore::Page(const RecordFilter& filter, std::int64_t beforeId,
                                            int limit, std::string* error) {
    if (limit <= 0) {
        return {};
    }
    Where where = MakeWhere(filter);
    if (beforeId > 0) {
        where.Add("id < ?", {false, beforeId, {}});
    }
    bool innerLimit = false;
    const std::string from = RecordsFrom(m_db, filter, where, "DESC", true, &innerLimit);
    const std::string sql = "SELECT " + SelectColumns() + from + " ORDER BY id DESC LIMIT ?";
    Statement stmt(m_db, sql);
    if (!stmt.Ok()) {
        SetError(error, DbError(m_db, "cannot list the records"));
        return {};
    }
    int next = where.Bind(stmt.get());
    if (innerLimit) {
        sqlite3_bind_int64(stmt.get(), next++, limit);
    }
    sqlite3_bind_int64(stmt.get(), next, limit);
    return ReadRows(stmt.get(), error, "cannot list the records");
}

std::optional<StoredRecord> RecordStore::Find(std::int64_t id, std::string* error) {
    Statement stmt(m_db, "SELECT " + SelectColumns() + " FROM records WHERE id = ?");
    if (!stmt.Ok()) {
        SetError(error, DbError(m_db, "cannot read the record"));
        return std::nullopt;
    }
    sqlite3_bind_int64(stmt.get(), 1, id);
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_DONE) {
        SetError(error, "no record " + std::to_string(id));
        return std::nullopt;
    }
    if (rc != SQLITE_ROW) {
        SetError(error, DbError(m_db, "cannot read the record"));
        return std::nullopt;
    }
    StoredRecord record;
    std::string why;
    if (!ReadRow(stmt.get(), &record, &why)) {
        SetError(error, why);
        return std::nullopt;
    }
    return record;
}

bool RecordStore::ForEach(const RecordFilter& filter,
                          const std::function<bool(const StoredRecord&)>& sink,
                          std::string* error) {
    const Where where = MakeWhere(filter);
    bool innerLimit = false;
    Statement stmt(m_db, "SELECT " + SelectColumns() +
                             RecordsFrom(m_db, filter, where, "", false, &innerLimit) +
                             " ORDER BY id");
    if (!stmt.Ok()) {
        SetError(error, DbError(m_db, "cannot read the records"));
        return false;
    }
    where.Bind(stmt.get());
    std::string skipped;
    const int rc = StepRows(
        stmt.get(), [&sink](StoredRecord& record) { return sink(record); }, &skipped);
    if (rc != SQLITE_DONE) {
        SetError(error, DbError(m_db, "cannot read the records"));
        return false;
    }
    if (!skipped.empty()) {
        SetError(error, skipped);
        return false;
    }
    return true;
}

std::vector<SummaryRow> RecordStore::Summary(const RecordFilter& filter, SummaryBy by,
                                             std::string* error) {
    std::vector<SummaryRow> out;
    const Where where = MakeWhere(filter);
    std::string key;
    std::string group;
    switch (by) {
        case SummaryBy::Total:
            key = "''";
            break;
        case SummaryBy::Day:
            // The station's own day at the time of the record, whatever the
            // zone of the machine that reads it.
            key = "strftime('%Y-%m-%d', (time_ms + utc_offset_min * 60000) / 1000.0, 'unixepoch')";
            group = " GROUP BY 1 ORDER BY 1";
            break;
        case SummaryBy::Head:
            key = "head_page || ':' || head_row || ',' || head_column";
            group =
                " GROUP BY head_page, head_row, head_column ORDER BY head_page, head_row, "
                "head_column";
            break;
    }
    const std::string sql = "SELECT " + key +
                            ", count(*), coalesce(sum(verdict = 'PASS'), 0), "
                            "coalesce(sum(verdict = 'FAIL'), 0) FROM records" +
                            where.sql + group;
    Statement stmt(m_db, sql);
    if (!stmt.Ok()) {
        SetError(error, DbError(m_db, "cannot sum the records"));
        return out;
    }
    where.Bind(stmt.get());
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        SummaryRow row;
        row.key = ColumnText(stmt.get(), 0);
        row.tested = sqlite3_column_int64(stmt.get(), 1);
        row.passed = sqlite3_column_int64(stmt.get(), 2);
        row.failed = sqlite3_column_int64(stmt.get(), 3);
        out.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) {
        SetError(error, DbError(m_db, "cannot sum the records"));
        out.clear();
    }
    return out;
}

std::vector<StoredRecord> RecordStore::Unforwarded(int limit, std::string* error) {
    if (limit <= 0) {
        return {};
    }
    if (m_version < 2) {
        SetError(error, "the records database is of an older version; open it for writing first");
        return {};
    }
    Statement stmt(m_db, "SELECT " + SelectColumns() +
                             " FROM records WHERE forwarded = 0 ORDER BY id LIMIT ?");
    if (!stmt.Ok()) {
        SetError(error, DbError(m_db, "cannot read the records"));
        return {};
    }
    sqlite3_bind_int64(stmt.get(), 1, limit);
    return ReadRows(stmt.get(), error, "cannot read the records");
}

bool RecordStore::MarkForwarded(std::span<const std::int64_t> ids, std::string* error) {
    if (ids.empty()) {
        return true;
    }
    if (m_version < 2) {
        SetError(error, "the records database is of an older version; open it for writing first");
        return false;
    }
    std::string why;
    if (!Exec(m_db, "BEGIN IMMEDIATE", &why)) {
        SetError(error, "cannot start writing: " + why);
        return false;
    }
    Statement stmt(m_db, "UPDATE records SET forwarded = 1 WHERE id = ?");
    bool ok = stmt.Ok();
    if (!ok) {
        why = DbError(m_db, "cannot mark the records");
    }
    for (std::size_t n = 0; ok && n < ids.size(); ++n) {
        sqlite3_bind_int64(stmt.get(), 1, ids[n]);
        if (sqlite3_step(stmt.get()) != SQLITE_DONE) {
            why = DbError(m_db, "cannot mark the records");
            ok = false;
        }
        sqlite3_reset(stmt.get());
    }
    if (ok && !Exec(m_db, "COMMIT", &why)) {
        why = "cannot commit: " + why;
        ok = false;
    }
    if (!ok) {
        if (!sqlite3_get_autocommit(m_db)) {
            Exec(m_db, "ROLLBACK", nullptr);
        }
        SetError(error, why);
    }
    return ok;
}

std::int64_t RecordStore::UnforwardedCount(std::string* error) {
    if (m_version < 2) {
        SetError(error, "the records database is of an older version; open it for writing first");
        return -1;
    }
    std::int64_t count = 0;
    std::string why;
    if (!QueryInt(m_db, "SELECT count(*) FROM records WHERE forwarded = 0", &count, &why)) {
        SetError(error, why);
        return -1;
    }
    return count;
}

bool RecordStore::IntegrityOk(std::string* error) {
    Statement stmt(m_db, "PRAGMA integrity_check");
    if (!stmt.Ok()) {
        SetError(error, DbError(m_db, "cannot check the database"));
        return false;
    }
    std::string report;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        if (!report.empty()) {
            report += '\n';
        }
        report += ColumnText(stmt.get(), 0);
    }
    if (rc != SQLITE_DONE) {
        SetError(error, DbError(m_db, "cannot check the database"));
        return false;
    }
    if (report != "ok") {
        SetError(error, report);
        return false;
    }
    return true;
}

}  // namespace kx
