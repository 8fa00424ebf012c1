// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
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
    using Committed =
        std::function<void(const std::vector<TestRecord>& batch, bool ok, const std::string& error)>;

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
    void Stop(std::chrono::milliseconds drainTimeout = std::chrono::seconds(5));
};

}  // namespace kx
