// SPDX-License-Identifier: MIT
// A writer process killed with SIGKILL at random moments, again and again on
// the same database: after each kill the database opens, is whole, and holds
// every record the process had reported committed, field for field.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <set>

#include "records/record_store.h"
#include "tests/records/crash_writer.h"
#include "tests/records/record_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace kx {
namespace {

using namespace std::chrono_literals;

// The writer process, forked from the test (a fresh program would spend
// most of the test's time starting): what it prints, in a pipe.
class CrashChild {
public:
    CrashChild(const std::string& db, std::uint64_t firstSequence) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            test::WriteUntilKilled(db, firstSequence, fds[1]);
        }
        ::close(fds[1]);
        m_out = fds[0];
    }
    ~CrashChild() {
        Kill();
        if (m_out >= 0) {
            ::close(m_out);
        }
    }
    CrashChild(const CrashChild&) = delete;
    CrashChild& operator=(const CrashChild&) = delete;

    bool Started() const { return m_pid > 0 && m_out >= 0; }

    // Reads what the child printed until `until`, or until `line` appears.
    void ReadFor(std::chrono::steady_clock::time_point until, const std::string& line = {}) {
        char buf[4096];
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !test::WaitReadable(m_out, left)) {
                return;
            }
            const ssize_t n = ::read(m_out, buf, sizeof buf);
            if (n <= 0) {
                return;
            }
            m_text.append(buf, static_cast<std::size_t>(n));
            if (!line.empty() && m_text.find(line) != std::string::npos) {
                return;
            }
        }
    }

    // SIGKILL, then what it had printed before it died.
    void Kill() {
        if (m_pid <= 0) {
            return;
        }
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        ReadFor(std::chrono::steady_clock::now() + 2s);  // to the end: the writer is gone
    }

    // The complete lines printed (a line cut by the kill is not one).
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::size_t at = 0;
        for (std::size_t end; (end = m_text.find('\n', at)) != std::string::npos; at = end + 1) {
            lines.push_back(m_text.substr(at, end - at));
        }
        return lines;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_text;
};

TEST(RecordDurability, KilledWriterLosesNothingItReportedCommitted) {
    test::TempDir dir;
    const std::string path = dir / "records.db";
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);

    // A process killed is not a matter of threads: under ThreadSanitizer,
    // which makes the writing slow, fewer kills keep the test short.
#if defined(__SANITIZE_THREAD__)
#define KX_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KX_UNDER_TSAN 1
#endif
#endif
#ifdef KX_UNDER_TSAN
    constexpr int kKills = 40;
#else
    constexpr int kKills = 200;
#endif
    std::int64_t lastId = 0;
    std::int64_t total = 0;
    int runsWithCommits = 0;
    for (int run = 0; run < kKills; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const std::uint64_t first = 1'000'000 + static_cast<std::uint64_t>(run) * 100'000;
        {
            CrashChild child(path, first);
            ASSERT_TRUE(child.Started());
            const auto start = std::chrono::steady_clock::now();
            // Half the kills anywhere from the start: while it opens the
            // database (the first time, creates it) or writes; half in the
            // middle of writing.
            child.ReadFor(start + 10s, run % 2 == 0 ? "started" : "committed");
            child.ReadFor(std::chrono::steady_clock::now() +
                          std::chrono::microseconds(random() % (run % 2 == 0 ? 10'000 : 15'000)));
            child.Kill();

            std::set<std::string> reported;
            for (const std::string& line : child.Lines()) {
                if (line == "started") {
                    continue;
                }
                ASSERT_EQ(line.rfind("committed ", 0), 0u) << line;
                reported.insert(line.substr(10));
            }
            runsWithCommits += reported.empty() ? 0 : 1;

            std::string error;
            auto store = RecordStore::Open(path, RecordStore::Mode::ReadWrite, &error);
            ASSERT_NE(store, nullptr) << error;
            ASSERT_TRUE(store->IntegrityOk(&error)) << error;
            // The records this run added, newest first.
            std::vector<StoredRecord> added;
            for (std::int64_t before = 0;;) {
                auto page = store->Page({}, before, 200, &error);
                ASSERT_TRUE(error.empty()) << error;
                bool older = page.empty();
                for (auto& s : page) {
                    if (s.id <= lastId) {
                        older = true;
                        break;
                    }
                    added.push_back(std::move(s));
                }
                if (older) {
                    break;
                }
                before = added.back().id;
            }
            std::set<std::string> stored;
            for (const StoredRecord& s : added) {
                std::uint64_t seq = 0;
                ASSERT_TRUE(test::UuidSequence(s.record.uuid, &seq)) << s.record.uuid;
                ASSERT_EQ(s.record, test::SequenceRecord(seq)) << s.record.uuid;
                ASSERT_GE(seq, first);
                stored.insert(s.record.uuid);
            }
            for (const std::string& uuid : reported) {
                EXPECT_EQ(stored.count(uuid), 1u) << "reported committed, not stored: " << uuid;
            }
            // Stored but not reported: only the batch whose commit the kill
            // overtook (up to three records).
            EXPECT_LE(stored.size(), reported.size() + 3);
            if (!added.empty()) {
                lastId = added.front().id;
            }
            total += static_cast<std::int64_t>(added.size());
            const auto summary = store->Summary({}, SummaryBy::Total, &error);
            ASSERT_EQ(summary.size(), 1u) << error;
            ASSERT_EQ(summary[0].tested, total);
        }
        if (HasFatalFailure()) {
            return;
        }
    }
    // The kills must have landed among commits, not only before them.
    EXPECT_GE(runsWithCommits, kKills / 3);
    std::printf("%d kills, %lld records, %d runs with commits\n", kKills,
                static_cast<long long>(total), runsWithCommits);
}

}  // namespace
}  // namespace kx
