// SPDX-License-Identifier: MIT
// The station's writer in a process of its own, for the durability test
// that kills it: writes records without end through RecordWriter and prints
// "committed <uuid>" on stdout after each record's commit, so the test knows
// what the database must hold whenever the process dies.
//
//   kx_records_crash_child <database> <first sequence>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "records/record_writer.h"
#include "tests/records/record_fixture.h"

namespace {

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            std::_Exit(4);  // the test is gone
        }
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <database> <first sequence>\n", argv[0]);
        return 2;
    }
    std::string error;
    auto store = kx::RecordStore::Open(argv[1], kx::RecordStore::Mode::ReadWrite, &error);
    if (store == nullptr) {
        WriteAll(1, "error " + error + "\n");
        return 3;
    }
    kx::RecordWriter writer(std::move(store), [](const std::vector<kx::TestRecord>& batch, bool ok,
                                                 const std::string& why) {
        if (!ok) {
            WriteAll(1, "failed " + why + "\n");
            return;
        }
        std::string lines;
        for (const kx::TestRecord& r : batch) {
            lines += "committed " + r.uuid + "\n";
        }
        WriteAll(1, lines);
    });
    std::uint64_t sequence = std::strtoull(argv[2], nullptr, 10);
    for (;;) {
        // Batches of one to three records, as a layout of several heads
        // closes them; a few queued at a time.
        std::vector<kx::TestRecord> batch;
        for (std::uint64_t k = 0; k <= sequence % 3; ++k) {
            batch.push_back(kx::test::SequenceRecord(sequence + k));
        }
        sequence += batch.size();
        writer.Submit(std::move(batch));
        while (writer.Pending() > 3) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
}
