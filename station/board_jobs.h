// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace kx {

// Runs board work off the window's thread: one worker thread, one job at a
// time. A board that stops answering costs every exchange its timeout, so a
// command that reads or writes several values must not do so on the thread
// that paints the window.
//
// A job is the board work itself; it must not touch widgets. It gets a cancel
// flag it may look at between exchanges (set by Cancel and by the
// destructor). Its completion runs on the worker thread right after the job,
// once the runner has become idle again, so the completion may hand the
// result to another thread (the window's, see ui/board_job.h) and that
// thread may submit the next job at once.
//
// Submitting while a job runs is refused: a second command never interleaves
// its exchanges with the first one's. The destructor sets the cancel flag,
// waits for the running job and its completion (bounded, as every board
// exchange is bounded by its timeout) and joins the thread.
class BoardJobRunner {
public:
    using Job = std::function<void(const std::atomic<bool>& cancel)>;
    using Completion = std::function<void()>;

    BoardJobRunner();
    ~BoardJobRunner();
    BoardJobRunner(const BoardJobRunner&) = delete;
    BoardJobRunner& operator=(const BoardJobRunner&) = delete;

    // Starts `job` on the worker thread, then `done` (may be empty). False,
    // and nothing runs, while another job is waiting or running. Once a job
    // has ended the runner takes the next one, even from inside the ended
    // job's completion; that job starts after the completion has returned.
    bool Submit(Job job, Completion done = {});
    // A job is waiting or running (not while only its completion runs).
    bool Busy() const;
    // Asks the running job to stop early; it decides where.
    void Cancel();

private:
    void Loop();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    Job job_;
    Completion done_;
    bool busy_ = false;
    bool stopping_ = false;
    std::atomic<bool> cancel_{false};
    std::thread thread_;
};

}  // namespace kx
