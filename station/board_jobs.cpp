// SPDX-License-Identifier: MIT
#include "station/board_jobs.h"

#include <utility>

namespace kx {

BoardJobRunner::BoardJobRunner() : thread_([this] { Loop(); }) {}

BoardJobRunner::~BoardJobRunner() {
    Stop();
}

void BoardJobRunner::Stop() {
    std::deque<Entry> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        cancel_ = true;
        dropped.swap(waiting_);
    }
    wake_.notify_all();
    // The dropped jobs' captures go here, outside the lock: they may be what
    // another thread waits on.
    dropped.clear();
    std::lock_guard<std::mutex> join(joinLock_);
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool BoardJobRunner::Submit(Job job, Completion done, const void* owner) {
    if (!job) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (running_ || !waiting_.empty() || stopping_) {
            return false;
        }
        waiting_.push_back({std::move(job), std::move(done), owner});
    }
    wake_.notify_all();
    return true;
}

bool BoardJobRunner::Enqueue(Job job, Completion done, const void* owner) {
    if (!job) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            return false;
        }
        waiting_.push_back({std::move(job), std::move(done), owner});
    }
    wake_.notify_all();
    return true;
}

bool BoardJobRunner::Busy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_ || !waiting_.empty();
}

void BoardJobRunner::Cancel() {
    cancel_ = true;
}

void BoardJobRunner::Cancel(const void* owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_ && runningOwner_ == owner) {
        cancel_ = true;
    }
}

void BoardJobRunner::Loop() {
    for (;;) {
        Entry entry;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
            if (stopping_) {
                return;  // what waits was dropped by Stop
            }
            entry = std::move(waiting_.front());
            waiting_.pop_front();
            running_ = true;
            runningOwner_ = entry.owner;
            cancel_ = false;
        }
        entry.job(cancel_);
        // Idle before the completion runs: the completion may pass the result
        // to a thread that submits the next job straight away.
        {
            std::lock_guard<std::mutex> lock(mutex_);
            running_ = false;
            runningOwner_ = nullptr;
        }
        if (entry.done) {
            entry.done();
        }
        // The job's and completion's captures go here, on this thread, before
        // the next job; Stop's join waits for them too.
    }
}

}  // namespace kx
