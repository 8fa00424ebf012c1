// SPDX-License-Identifier: MIT
#include "records/record_writer.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <map>

#include "tests/records/record_fixture.h"
#include "tests/support/temp_dir.h"

namespace kx {
namespace {

using namespace std::chrono_literals;
using test::SequenceRecord;

// What the writer's callback saw, read by the test thread.
struct Attempts {
    std::mutex mutex;
    std::vector<std::string> committedUuids;  // in commit order
    int failures = 0;
    std::string lastError;

    RecordWriter::Committed Callback() {
        return [this](const std::vector<TestRecord>& batch, bool ok, const std::string& error) {
            std::lock_guard lock(mutex);
            if (!ok) {
                ++failures;
                lastError = error;
                return;
            }
            for (const TestRecord& r : batch) {
                committedUuids.push_back(r.uuid);
            }
        };
    }
    int Failures() {
        std::lock_guard lock(mutex);
        return failures;
    }
};

// A second connection to the database, outside the store, that can hold
// the write lock.
class RawConnection {
public:
    explicit RawConnection(const std::string& path) { sqlite3_open(path.c_str(), &m_db); }
    ~RawConnection() { sqlite3_close(m_db); }
    bool Exec(const std::string& sql) {
        return sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }

private:
    sqlite3* m_db = nullptr;
};

class RecordWriterTest : public ::testing::Test {
protected:
    std::unique_ptr<RecordStore> OpenStore() {
        std::string error;
        auto store = RecordStore::Open(path, RecordStore::Mode::ReadWrite, &error);
        EXPECT_NE(store, nullptr) << error;
        return store;
    }
    // The uuids in the database, oldest first.
    std::vector<std::string> Stored() {
        auto store = OpenStore();
        std::vector<std::string> uuids;
        std::string error;
        if (store == nullptr) {
            return uuids;
        }
        EXPECT_TRUE(store->ForEach(
            {},
            [&](const StoredRecord& s) {
                std::uint64_t seq = 0;
                EXPECT_TRUE(test::UuidSequence(s.record.uuid, &seq));
                EXPECT_EQ(s.record, SequenceRecord(seq));
                uuids.push_back(s.record.uuid);
                return true;
            },
            &error))
            << error;
        return uuids;
    }

    test::TempDir dir;
    std::string path = dir / "records.db";
    Attempts attempts;
};

std::vector<std::string> UuidsOf(std::uint64_t from, std::uint64_t count) {
    std::vector<std::string> uuids;
    for (std::uint64_t n = from; n < from + count; ++n) {
        uuids.push_back(test::SequenceUuid(n));
    }
    return uuids;
}

// Batches from several threads: each thread's records in its order, every
// batch once, the callback after each commit.
TEST_F(RecordWriterTest, WritesEveryBatchInOrder) {
    RecordWriter writer(OpenStore(), attempts.Callback());
    constexpr int kThreads = 4;
    constexpr int kBatches = 60;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&writer, t] {
            for (int b = 0; b < kBatches; ++b) {
                // Batches of 1 to 3 records; thread t owns sequences t*1000 on.
                std::vector<TestRecord> batch;
                for (int k = 0; k <= b % 3; ++k) {
                    batch.push_back(
                        SequenceRecord(static_cast<std::uint64_t>(t * 1000 + b * 3 + k)));
                }
                writer.Submit(std::move(batch));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    writer.Submit({});  // ignored
    ASSERT_TRUE(writer.Flush(20s));
    EXPECT_EQ(writer.Pending(), 0u);
    const auto stored = Stored();
    {
        std::lock_guard lock(attempts.mutex);
        EXPECT_EQ(attempts.committedUuids, stored);
        EXPECT_EQ(attempts.failures, 0);
    }
    std::map<int, std::vector<std::uint64_t>> perThread;
    for (const std::string& uuid : stored) {
        std::uint64_t seq = 0;
        ASSERT_TRUE(test::UuidSequence(uuid, &seq));
        perThread[static_cast<int>(seq / 1000)].push_back(seq % 1000);
    }
    ASSERT_EQ(perThread.size(), static_cast<std::size_t>(kThreads));
    for (const auto& [thread, seqs] : perThread) {
        std::vector<std::uint64_t> expected;
        for (int b = 0; b < kBatches; ++b) {
            for (int k = 0; k <= b % 3; ++k) {
                expected.push_back(static_cast<std::uint64_t>(b * 3 + k));
            }
        }
        EXPECT_EQ(seqs, expected) << "thread " << thread;
    }
}

// Another connection holds the write lock: the batches fail, stay queued,
// and are written in order once it lets go; nothing lost, nothing twice.
TEST_F(RecordWriterTest, LockedDatabaseDelaysButLosesNothing) {
    auto store = OpenStore();
    ASSERT_NE(store, nullptr);
    store->SetBusyTimeout(20ms);
    RawConnection other(path);
    ASSERT_TRUE(other.Exec("BEGIN IMMEDIATE"));
    RecordWriter writer(std::move(store), attempts.Callback());
    for (std::uint64_t n = 0; n < 20; ++n) {
        writer.Submit({SequenceRecord(n)});
    }
    EXPECT_FALSE(writer.Flush(300ms));
    EXPECT_EQ(writer.Pending(), 20u);
    EXPECT_GE(attempts.Failures(), 2);
    ASSERT_TRUE(other.Exec("COMMIT"));
    ASSERT_TRUE(writer.Flush(20s));
    EXPECT_EQ(Stored(), UuidsOf(0, 20));
    std::lock_guard lock(attempts.mutex);
    EXPECT_EQ(attempts.committedUuids, UuidsOf(0, 20));
    EXPECT_NE(attempts.lastError.find("lock"), std::string::npos) << attempts.lastError;
}

// A batch that fails half-way (the third of its records refused) leaves
// none of its records and is written whole once the fault is gone.
TEST_F(RecordWriterTest, BatchFailingHalfWayIsRetriedWhole) {
    RawConnection other(path);
    {
        auto store = OpenStore();
        ASSERT_NE(store, nullptr);
    }
    ASSERT_TRUE(other.Exec("CREATE TRIGGER refuse BEFORE INSERT ON records WHEN NEW.uuid = '" +
                           test::SequenceUuid(12) +
                           "' BEGIN SELECT RAISE(ABORT, 'disk on fire'); END"));
    RecordWriter writer(OpenStore(), attempts.Callback());
    writer.Submit({SequenceRecord(0), SequenceRecord(1)});
    writer.Submit({SequenceRecord(10), SequenceRecord(11), SequenceRecord(12), SequenceRecord(13)});
    writer.Submit({SequenceRecord(20)});
    EXPECT_FALSE(writer.Flush(250ms));
    EXPECT_EQ(Stored(), UuidsOf(0, 2));
    EXPECT_EQ(writer.Pending(), 2u);
    ASSERT_TRUE(other.Exec("DROP TRIGGER refuse"));
    ASSERT_TRUE(writer.Flush(20s));
    std::vector<std::string> expected = UuidsOf(0, 2);
    for (const auto& u : UuidsOf(10, 4)) {
        expected.push_back(u);
    }
    expected.push_back(test::SequenceUuid(20));
    EXPECT_EQ(Stored(), expected);
    std::lock_guard lock(attempts.mutex);
    EXPECT_GE(attempts.failures, 1);
    EXPECT_NE(attempts.lastError.find("disk on fire"), std::string::npos) << attempts.lastError;
}

// Stop writes what is queued; when the database will not take it, Stop
// still returns within its bound and the batches stay counted as pending.
TEST_F(RecordWriterTest, StopDrainsWithinItsBound) {
    {
        RecordWriter writer(OpenStore(), attempts.Callback());
        for (std::uint64_t n = 0; n < 30; ++n) {
            writer.Submit({SequenceRecord(n)});
        }
        writer.Stop(10s);
        EXPECT_EQ(writer.Pending(), 0u);
        writer.Stop();                        // again: nothing to do
        writer.Submit({SequenceRecord(99)});  // after Stop: only queued
        EXPECT_EQ(writer.Pending(), 1u);
    }
    EXPECT_EQ(Stored(), UuidsOf(0, 30));

    auto store = OpenStore();
    ASSERT_NE(store, nullptr);
    store->SetBusyTimeout(50ms);
    RawConnection other(path);
    ASSERT_TRUE(other.Exec("BEGIN IMMEDIATE"));
    RecordWriter writer(std::move(store), attempts.Callback());
    writer.Submit({SequenceRecord(40)});
    const auto start = std::chrono::steady_clock::now();
    writer.Stop(200ms);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 2s);
    EXPECT_EQ(writer.Pending(), 1u);
    EXPECT_FALSE(writer.Flush(10ms));
    other.Exec("ROLLBACK");
}

// Without a database every attempt fails and says so; nothing hangs.
TEST_F(RecordWriterTest, WithoutAStoreEveryAttemptFails) {
    RecordWriter writer(nullptr, attempts.Callback());
    writer.Submit({SequenceRecord(1)});
    EXPECT_FALSE(writer.Flush(150ms));
    EXPECT_GE(attempts.Failures(), 1);
    writer.Stop(100ms);
    EXPECT_EQ(writer.Pending(), 1u);
}

}  // namespace
}  // namespace kx
