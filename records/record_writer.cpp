// SPDX-License-Identifier: MIT
#include "records/record_writer.h"

#include <algorithm>
#include <utility>

namespace kx {

namespace {

// After a failed batch: the first wait, doubled on each further failure up
// to the last.
constexpr std::chrono::milliseconds kFirstRetry{50};
constexpr std::chrono::milliseconds kLongestRetry{2000};

}  // namespace

RecordWriter::RecordWriter(std::unique_ptr<RecordStore> store, Committed committed)
    : m_store(std::move(store)), m_committed(std::move(committed)) {
    m_thread = std::thread([this] { Run(); });
}

RecordWriter::~RecordWriter() {
    Stop();
}

void RecordWriter::Submit(std::vector<TestRecord> batch) {
    if (batch.empty()) {
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(batch));
        ++m_submitted;
    }
    m_wake.notify_one();
}

std::size_t RecordWriter::Pending() const {
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

bool RecordWriter::Flush(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    const std::uint64_t target = m_submitted;
    return m_progress.wait_for(lock, timeout, [&] { return m_written >= target; });
}

void RecordWriter::Stop(std::chrono::milliseconds drainTimeout) {
    std::lock_guard stopLock(m_stopMutex);
    if (!m_thread.joinable()) {
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_drainDeadline = std::chrono::steady_clock::now() + drainTimeout;
    }
    m_wake.notify_one();
    m_thread.join();
}

void RecordWriter::Run() {
    using Clock = std::chrono::steady_clock;
    std::chrono::milliseconds retry = kFirstRetry;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty() || (m_stopping && Clock::now() >= m_drainDeadline)) {
            return;
        }
        // The head batch, by reference: Submit only appends, which leaves
        // the deque's elements where they are.
        const std::vector<TestRecord>& batch = m_queue.front();
        lock.unlock();
        std::string error;
        const bool ok = m_store != nullptr ? m_store->Insert(batch, &error)
                                           : (error = "no records database", false);
        if (m_committed) {
            m_committed(batch, ok, error);
        }
        lock.lock();
        if (ok) {
            // The batch is freed outside the lock, which Submit waits for.
            std::vector<TestRecord> done = std::move(m_queue.front());
            m_queue.pop_front();
            ++m_written;
            retry = kFirstRetry;
            m_progress.notify_all();
            lock.unlock();
            done = {};
            lock.lock();
            continue;
        }
        // Try the same batch again later; a Stop cuts the wait short only
        // when its time is up.
        const Clock::time_point wakeAt = Clock::now() + retry;
        retry = std::min(retry * 2, kLongestRetry);
        for (;;) {
            const Clock::time_point until = m_stopping ? std::min(wakeAt, m_drainDeadline) : wakeAt;
            if (Clock::now() >= until) {
                break;
            }
            m_wake.wait_until(lock, until);
        }
    }
}

}  // namespace kx
