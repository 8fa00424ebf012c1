// SPDX-License-Identifier: MIT
// The board job runner: one job at a time on its own thread, refusal while
// busy, queued work in order, completions in order, the cancel flag, and a
// stop that drops what waits and waits for the running job and its
// completion.
#include "station/board_jobs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace kx {
namespace {

using namespace std::chrono_literals;

// A latch the test opens to let a job go on.
class Gate {
public:
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        cv_.notify_all();
    }
    // Bounded: a test that forgets to open fails instead of hanging.
    bool Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, 10s, [this] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
};

bool WaitIdle(const BoardJobRunner& runner) {
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (runner.Busy()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(BoardJobRunner, RefusesWhileBusyAndRunsOffTheCallersThread) {
    BoardJobRunner runner;
    Gate gate;
    std::atomic<bool> secondRan{false};
    std::thread::id jobThread;
    std::thread::id doneThread;
    Gate completed;
    ASSERT_TRUE(runner.Submit(
        [&](const std::atomic<bool>&) {
            jobThread = std::this_thread::get_id();
            gate.Wait();
        },
        [&] {
            doneThread = std::this_thread::get_id();
            completed.Open();
        }));
    EXPECT_TRUE(runner.Busy());
    EXPECT_FALSE(runner.Submit([&](const std::atomic<bool>&) { secondRan = true; }));
    EXPECT_FALSE(runner.Submit({}));  // an empty job is no job
    gate.Open();
    ASSERT_TRUE(completed.Wait());
    ASSERT_TRUE(WaitIdle(runner));
    EXPECT_FALSE(secondRan);
    EXPECT_NE(jobThread, std::this_thread::get_id());
    EXPECT_EQ(doneThread, jobThread);

    // Idle again: the next job is taken.
    Gate again;
    ASSERT_TRUE(runner.Submit([&](const std::atomic<bool>&) { again.Open(); }));
    EXPECT_TRUE(again.Wait());
}

// The completion may submit the next job at once (the runner is idle by
// then), and jobs and completions come strictly one after the other.
TEST(BoardJobRunner, CompletionsInOrderAndTheNextJobFromACompletion) {
    BoardJobRunner runner;
    std::mutex mutex;
    std::vector<int> order;
    Gate last;
    auto log = [&](int step) {
        std::lock_guard<std::mutex> lock(mutex);
        order.push_back(step);
    };
    std::function<void(int)> chain = [&](int n) {
        const bool taken = runner.Submit([&, n](const std::atomic<bool>&) { log(2 * n); },
                                         [&, n] {
                                             log(2 * n + 1);
                                             if (n < 4) {
                                                 chain(n + 1);
                                             } else {
                                                 last.Open();
                                             }
                                         });
        EXPECT_TRUE(taken) << n;
    };
    chain(0);
    ASSERT_TRUE(last.Wait());
    ASSERT_TRUE(WaitIdle(runner));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(BoardJobRunner, CancelReachesTheRunningJobAndIsClearedForTheNext) {
    BoardJobRunner runner;
    Gate started;
    std::atomic<bool> sawCancel{false};
    ASSERT_TRUE(runner.Submit([&](const std::atomic<bool>& cancel) {
        started.Open();
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (!cancel && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(1ms);
        }
        sawCancel = cancel.load();
    }));
    ASSERT_TRUE(started.Wait());
    runner.Cancel();
    ASSERT_TRUE(WaitIdle(runner));
    EXPECT_TRUE(sawCancel);

    std::atomic<bool> cancelledAtStart{true};
    Gate done;
    ASSERT_TRUE(
        runner.Submit([&](const std::atomic<bool>& cancel) { cancelledAtStart = cancel.load(); },
                      [&] { done.Open(); }));
    ASSERT_TRUE(done.Wait());
    EXPECT_FALSE(cancelledAtStart);
}

// The destructor asks the job to stop, waits for it and its completion, and
// only then returns: what they captured is still there while they run.
TEST(BoardJobRunner, DestructorWaitsForTheJobAndItsCompletion) {
    std::atomic<bool> jobEnded{false};
    std::atomic<bool> completed{false};
    std::atomic<bool> sawCancel{false};
    Gate started;
    {
        BoardJobRunner runner;
        ASSERT_TRUE(runner.Submit(
            [&](const std::atomic<bool>& cancel) {
                started.Open();
                // A board read: bounded by its timeout, cut short when asked.
                const auto until = std::chrono::steady_clock::now() + 200ms;
                while (!cancel && std::chrono::steady_clock::now() < until) {
                    std::this_thread::sleep_for(1ms);
                }
                sawCancel = cancel.load();
                std::this_thread::sleep_for(20ms);
                jobEnded = true;
            },
            [&] {
                std::this_thread::sleep_for(20ms);
                completed = true;
            }));
        ASSERT_TRUE(started.Wait());
    }
    EXPECT_TRUE(jobEnded);
    EXPECT_TRUE(completed);
    EXPECT_TRUE(sawCancel);

    // A runner that never ran a job ends at once.
    const auto before = std::chrono::steady_clock::now();
    { BoardJobRunner idle; }
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
}

// Queued work waits behind the running job in order and is never refused
// until the stop; a command submitted meanwhile is refused, and a cancel
// aimed at another owner's job leaves the running one alone.
TEST(BoardJobRunner, QueuedJobsRunInOrderAndAStopDropsWhatWaits) {
    BoardJobRunner runner;
    Gate gate;
    Gate started;
    std::mutex mutex;
    std::vector<int> order;
    const auto note = [&](int n) {
        std::lock_guard<std::mutex> lock(mutex);
        order.push_back(n);
    };
    int first = 0;
    int other = 0;
    std::atomic<bool> firstCancelled{false};
    ASSERT_TRUE(runner.Enqueue(
        [&](const std::atomic<bool>& cancel) {
            started.Open();
            EXPECT_TRUE(gate.Wait());
            firstCancelled = cancel.load();
            note(1);
        },
        [&] { note(10); }, &first));
    ASSERT_TRUE(started.Wait());
    ASSERT_TRUE(runner.Enqueue([&](const std::atomic<bool>&) { note(2); }, [&] { note(20); }));
    ASSERT_TRUE(runner.Enqueue([&](const std::atomic<bool>&) { note(3); }));
    EXPECT_FALSE(runner.Submit([&](const std::atomic<bool>&) { note(99); }));
    runner.Cancel(&other);
    gate.Open();
    ASSERT_TRUE(WaitIdle(runner));
    EXPECT_FALSE(firstCancelled);
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(order, (std::vector<int>{1, 10, 2, 20, 3}));
        order.clear();
    }

    // A stop while one job runs and one waits: the running one is cancelled
    // and finished with its completion, the waiting one never runs, and
    // nothing is taken afterwards.
    Gate second;
    std::atomic<bool> sawCancel{false};
    ASSERT_TRUE(runner.Enqueue(
        [&](const std::atomic<bool>& cancel) {
            second.Open();
            const auto until = std::chrono::steady_clock::now() + 5s;
            while (!cancel && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(1ms);
            }
            sawCancel = cancel.load();
            note(4);
        },
        [&] { note(40); }));
    ASSERT_TRUE(runner.Enqueue([&](const std::atomic<bool>&) { note(5); }, [&] { note(50); }));
    ASSERT_TRUE(second.Wait());
    runner.Stop();
    EXPECT_TRUE(sawCancel);
    EXPECT_FALSE(runner.Enqueue([&](const std::atomic<bool>&) { note(6); }));
    EXPECT_FALSE(runner.Submit([&](const std::atomic<bool>&) { note(7); }));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(order, (std::vector<int>{4, 40}));
}

}  // namespace
}  // namespace kx
