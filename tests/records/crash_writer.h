// SPDX-License-Identifier: MIT
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "records/record_writer.h"
#include "tests/records/record_fixture.h"

namespace kx::test {

// Writes `text` whole to `fd`, or ends the process (its reader is gone).
inline void WriteWholeOrExit(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            ::_exit(4);
        }
        done += static_cast<std::size_t>(n);
    }
}

// The station's writer in a process of its own, for the test that kills it:
// prints "started", then writes SequenceRecords from `first` on without end
// through RecordWriter and prints "committed <uuid>" to `fd` after each
// record's commit, so the test knows what the database must hold whenever
// the process dies. Never returns.
[[noreturn]] inline void WriteUntilKilled(const std::string& db, std::uint64_t first, int fd) {
    WriteWholeOrExit(fd, "started\n");
    std::string error;
    auto store = RecordStore::Open(db, RecordStore::Mode::ReadWrite, &error);
    if (store == nullptr) {
        WriteWholeOrExit(fd, "error " + error + "\n");
        ::_exit(3);
    }
    RecordWriter writer(std::move(store), [fd](const std::vector<TestRecord>& batch, bool ok,
                                               const std::string& why) {
        if (!ok) {
            WriteWholeOrExit(fd, "failed " + why + "\n");
            return;
        }
        std::string lines;
        for (const TestRecord& r : batch) {
            lines += "committed " + r.uuid + "\n";
        }
        WriteWholeOrExit(fd, lines);
    });
    std::uint64_t sequence = first;
    for (;;) {
        // Batches of one to three records, as a layout of several heads
        // closes them; a few queued at a time.
        std::vector<TestRecord> batch;
        for (std::uint64_t k = 0; k <= sequence % 3; ++k) {
            batch.push_back(SequenceRecord(sequence + k));
        }
        sequence += batch.size();
        writer.Submit(std::move(batch));
        while (writer.Pending() > 3) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
}

}  // namespace kx::test
