// SPDX-License-Identifier: MIT
#include "station/board_jobs.h"

#include <utility>

namespace kx {

BoardJobRunner::BoardJobRunner() : thread_([this] { Loop(); }) {}

BoardJobRunner::~BoardJobRunner() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        cancel_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

bool BoardJobRunner::Submit(Job job, Completion done) {
    if (!job) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (busy_ || stopping_) {
            return false;
        }
        busy_ = true;
        cancel_ = false;
        job_ = std::move(job);
        done_ = std::move(done);
    }
    wake_.notify_all();
    return true;
}

bool BoardJobRunner::Busy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return busy_;
}

void BoardJobRunner::Cancel() {
    cancel_ = true;
}

void BoardJobRunner::Loop() {
    for (;;) {
        Job job;
        Completion done;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || job_; });
            if (!job_) {
                return;  // stopping with nothing submitted
            }
            job = std::move(job_);
            done = std::move(done_);
            job_ = nullptr;
            done_ = nullptr;
        }
        job(cancel_);
        // Idle before the completion runs: the completion may pass the result
        // to a thread that submits the next job straight away.
        {
            std::lock_guard<std::mutex> lock(mutex_);
            busy_ = false;
        }
        if (done) {
            done();
        }
        // The job's and completion's captures go here, on this thread, before
        // the next job; the destructor's join waits for them too.
    }
}

}  // namespace kx
