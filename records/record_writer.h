// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "records/record_store.h"

namespace kx {

// Writes the station's records on a thread of its own, so that closing a
// panel's cycle costs the window only a move into a queue. Each Submit is
// one transaction. A batch that could not be written (a full disk, a locked
// database) stays at the head of the queue and is tried again; nothing is
// dropped while the writer lives.
class RecordWriter {
public:
    // Runs on the writer's thread after each attempt: the batch, and whether
    // it is committed (on false, `error` says why and the batch is tried
    // again later).
    using Committed = std::function<void(const std::vector<TestRecord>& batch, bool ok,
                                         const std::string& error)>;

    RecordWriter(std::unique_ptr<RecordStore> store, Committed committed);
    // Writes what is queued (bounded by `drainTimeout` of the last Stop), then
    // stops.
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    // Queues one batch; any thread. An empty batch is ignored.
    void Submit(std::vector<TestRecord> batch);
    // Batches queued or being written.
    std::size_t Pending() const;
    // Waits until every batch queued so far is committed; false on timeout.
    bool Flush(std::chrono::milliseconds timeout);
    // Writes what is queued within `drainTimeout`, then ends the thread.
    // A batch being written when the time is up is finished first (bounded
    // by the store's busy timeout). Batches left are not written; Submit
    // after Stop only queues.
    void Stop(std::chrono::milliseconds drainTimeout = std::chrono::seconds(5));

private:
    void Run();

    std::unique_ptr<RecordStore> m_store;
    Committed m_committed;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;      // the thread: work, or stop
    std::condition_variable m_progress;  // Flush: a batch committed
    // The batches to write, oldest first. The head stays until it is
    // committed: the thread writes it unlocked, and only the thread pops.
    std::deque<std::vector<TestRecord>> m_queue;
    std::uint64_t m_submitted = 0;  // batches queued since the start
    std::uint64_t m_written = 0;    // of those, committed (in order)
    bool m_stopping = false;
    std::chrono::steady_clock::time_point m_drainDeadline{};
    std::mutex m_stopMutex;  // one Stop at a time joins
    std::thread m_thread;
};

}  // namespace kx
