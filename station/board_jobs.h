// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
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
// flag it may look at between exchanges (set by Cancel, Stop and the
// destructor). Its completion runs on the worker thread right after the job,
// once the runner has become idle again (unless another job waits), so the
// completion may hand the result to another thread (the window's, see
// ui/board_job.h) and that thread may submit the next job at once.
//
// Two ways in, and never two jobs at once, so that one command's exchanges
// never interleave with another's:
// - Submit, for a command the operator gave: refused while a job runs or
//   waits, so the window can say so at once instead of leaving the operator
//   waiting behind a board that may not answer.
// - Enqueue, for work that must not be lost (a connection after a plug or
//   unplug): it waits behind the jobs before it, in order.
// Stop (and the destructor) drops the jobs that wait, sets the cancel flag,
// waits for the running job and its completion (bounded, as every board
// exchange is bounded by its timeout) and joins the thread; later jobs are
// refused.
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
    // `owner` tags the job for Cancel(owner).
    bool Submit(Job job, Completion done = {}, const void* owner = nullptr);
    // Queues `job` (and `done`) behind the jobs waiting or running. False
    // only once the runner has stopped.
    bool Enqueue(Job job, Completion done = {}, const void* owner = nullptr);
    // A job is waiting or running (not while only its completion runs).
    bool Busy() const;
    // Asks the running job to stop early; it decides where. With an owner:
    // only when the running job is that owner's.
    void Cancel();
    void Cancel(const void* owner);
    // Drops the waiting jobs, cancels and waits for the running one, and
    // refuses every job from now on. From any thread but the runner's own.
    void Stop();

private:
    struct Entry {
        Job job;
        Completion done;
        const void* owner = nullptr;
    };
    void Loop();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Entry> waiting_;
    bool running_ = false;
    const void* runningOwner_ = nullptr;
    bool stopping_ = false;
    std::atomic<bool> cancel_{false};
    std::mutex joinLock_;
    std::thread thread_;
};

}  // namespace kx
