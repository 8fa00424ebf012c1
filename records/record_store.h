// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "records/test_record.h"

struct sqlite3;

namespace kx {

// Which records a listing, an export or a summary takes. Empty fields take
// every record.
struct RecordFilter {
    std::optional<std::int64_t> sinceMs;  // timeMs >= sinceMs
    std::optional<std::int64_t> untilMs;  // timeMs <  untilMs
    std::optional<RecordVerdict> verdict;
    std::string serialContains;  // a plain substring, not a pattern
    std::optional<std::int32_t> page;
    bool operator==(const RecordFilter&) const = default;
};

// A record as stored: its row number (insertion order) and whether it has
// reached the line's server.
struct StoredRecord {
    std::int64_t id = 0;
    bool forwarded = false;
    TestRecord record;
};

enum class SummaryBy { Total, Day, Head };

struct SummaryRow {
    std::string key;  // "" for Total, "YYYY-MM-DD" (the station's local day) or "page:row,column"
    std::int64_t tested = 0;
    std::int64_t passed = 0;
    std::int64_t failed = 0;
};

// The station's test records in an SQLite database (WAL, full
// synchronisation: a record that Insert reported is on the disk). The schema
// carries its version (PRAGMA user_version); opening an older database
// migrates it, a newer one is refused. One object per thread: the writer,
// the forwarder and the records window each open their own.
class RecordStore {
public:
    enum class Mode { ReadWrite, ReadOnly };
    static constexpr int kSchemaVersion = 2;

    // Opens (and for ReadWrite creates, with its folders) the database.
    // Null with `error` set when it cannot: unreadable, not a database, or
    // written by a newer station.
    static std::unique_ptr<RecordStore> Open(const std::string& path, Mode mode,
                                             std::string* error);
    ~RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    int SchemaVersion() const;
    // How long a write waits for another connection's lock before it fails
    // (a few seconds unless set).
    void SetBusyTimeout(std::chrono::milliseconds timeout);
    const std::string& Path() const;

    // All the records in one transaction, all or none. False with `error`.
    // A record whose uuid is already stored is that record written again
    // (a retried batch) and changes nothing. A malformed uuid fails the
    // batch.
    bool Insert(std::span<const TestRecord> records, std::string* error);

    // The readers below give the records they can read. A row that cannot be
    // a record (its channel data not the size this station writes, an
    // unknown verdict: a damaged file or a foreign writer) is left out and
    // named in `error`, and the others are still given; a database error
    // gives nothing, with `error` set.
    //
    // Newest first: up to `limit` records with id < beforeId (0: from the
    // newest).
    std::vector<StoredRecord> Page(const RecordFilter& filter, std::int64_t beforeId, int limit,
                                   std::string* error);
    std::optional<StoredRecord> Find(std::int64_t id, std::string* error);
    // Oldest first, every record the filter takes, until `sink` returns
    // false. False on a database error, or at the end when a row could not
    // be read (`error` names it).
    bool ForEach(const RecordFilter& filter, const std::function<bool(const StoredRecord&)>& sink,
                 std::string* error);
    std::vector<SummaryRow> Summary(const RecordFilter& filter, SummaryBy by, std::string* error);

    // Forwarding to the line's server: the oldest records not yet
    // forwarded, and their marking once the server has them.
    std::vector<StoredRecord> Unforwarded(int limit, std::string* error);
    bool MarkForwarded(std::span<const std::int64_t> ids, std::string* error);
    // -1 on error.
    std::int64_t UnforwardedCount(std::string* error);

    // PRAGMA integrity_check says "ok".
    bool IntegrityOk(std::string* error);

    // Stops the statement running on this store's thread (a Page or ForEach
    // under way returns its error, "interrupted"); a no-op when none runs.
    // The one member another thread may call, while the store is open.
    void Interrupt();
    // The last call that failed on this store's thread failed because of
    // Interrupt.
    bool Interrupted() const;

private:
    RecordStore() = default;
    std::string SelectColumns() const;
    sqlite3* m_db = nullptr;
    std::string m_path;
    int m_version = 0;
};

// Where the station keeps its records: $XDG_DATA_HOME/kaldrixplus/records.db
// ($HOME/.local/share when XDG_DATA_HOME is unset or not absolute).
std::string DefaultRecordsPath();

}  // namespace kx
