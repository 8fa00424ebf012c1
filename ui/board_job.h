// SPDX-License-Identifier: MIT
#pragma once

#include <QCoreApplication>
#include <QCursor>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "station/board_jobs.h"
#include "ui/message_box.h"

namespace kx {

// Board work of a window, run off the window's thread (on a BoardJobRunner)
// with its result delivered back on the window's thread:
//
//     job_->Run<Info>(QStringLiteral("正在读取设备信息…"),
//                     [board](const std::atomic<bool>&) { return ReadInfo(*board); },
//                     [this](Info info) { Show(info); });
//
// The work runs on the runner's thread and must not touch widgets; it gets
// copies of what it needs, never the window's objects. The completion is
// queued to this object (QMetaObject::invokeMethod with it as the context),
// so it runs on the window's thread, and not at all once this object is gone.
// While a job runs the owner shows a busy cursor (over the owner only: the
// window keeps painting and answering) and Status() says what is going on.
//
// The runner is the station's board lane (StationCore::Lane), shared by
// every command of every window, so that no two commands' exchanges ever
// interleave; without one the job has a runner of its own. Run refuses
// (returns false) while this job or any other job of the runner waits or
// runs: the caller tells the operator. Queue (for work that must not be
// lost) waits behind them instead.
//
// The destructor waits for this object's jobs that have started (their
// exchanges are bounded by their timeouts) and drops their completions;
// those still waiting in a shared runner are waited for too, so the runner
// must be stopped (StationCore::Close) before an object with queued work
// goes.
// What a command tells the operator when it finds the board lane busy
// (its own job or another command's): one text for every command.
inline void ShowBoardBusy(QWidget* owner) {
    ShowMessage(owner, QCoreApplication::translate("BoardJob", "正在与设备通信，请稍候再试。"),
                QString(), QMessageBox::Information);
}

class BoardJob : public QObject {
public:
    explicit BoardJob(QWidget* owner, BoardJobRunner* runner = nullptr)
        : QObject(owner), owner_(owner), mailbox_(std::make_shared<Mailbox>()) {
        if (runner == nullptr) {
            own_ = std::make_unique<BoardJobRunner>();
            runner = own_.get();
        }
        runner_ = runner;
        mailbox_->target = this;
    }
    ~BoardJob() override {
        {
            // From here on no completion reaches this object; the jobs that
            // are still out end first, since they may use what the owner
            // lends them.
            std::unique_lock<std::mutex> lock(mailbox_->mutex);
            mailbox_->target = nullptr;
        }
        runner_->Cancel(this);
        own_.reset();
        std::unique_lock<std::mutex> lock(mailbox_->mutex);
        mailbox_->idle.wait(lock, [this] { return mailbox_->out == 0; });
    }
    BoardJob(const BoardJob&) = delete;
    BoardJob& operator=(const BoardJob&) = delete;

    template <class Result>
    bool Run(const QString& status, std::function<Result(const std::atomic<bool>&)> work,
             std::function<void(Result)> done) {
        if (running_ > 0) {
            return false;
        }
        return Start<Result>(false, status, std::move(work), std::move(done));
    }
    template <class Result>
    bool Queue(const QString& status, std::function<Result(const std::atomic<bool>&)> work,
               std::function<void(Result)> done) {
        return Start<Result>(true, status, std::move(work), std::move(done));
    }

    // A job of this object waits or runs (from Run or Queue until just
    // before its completion is called).
    bool Busy() const { return running_ > 0; }
    // What the running job does, for a status line; empty when idle.
    QString Status() const { return status_; }
    // Asks this object's running job to stop early.
    void Cancel() { runner_->Cancel(this); }

private:
    // What the runner's thread and this object share: where completions go
    // and how many jobs are still out.
    struct Mailbox {
        std::mutex mutex;
        std::condition_variable idle;
        BoardJob* target = nullptr;
        int out = 0;
    };
    // Held by a job's captures: counts the job out until the runner has
    // dropped them (after the completion, or unrun by a stop).
    struct Out {
        explicit Out(std::shared_ptr<Mailbox> m) : mailbox(std::move(m)) {
            std::lock_guard<std::mutex> lock(mailbox->mutex);
            ++mailbox->out;
        }
        ~Out() {
            std::lock_guard<std::mutex> lock(mailbox->mutex);
            --mailbox->out;
            mailbox->idle.notify_all();
        }
        Out(const Out&) = delete;
        Out& operator=(const Out&) = delete;
        std::shared_ptr<Mailbox> mailbox;
    };

    template <class Result>
    bool Start(bool queue, const QString& status,
               std::function<Result(const std::atomic<bool>&)> work,
               std::function<void(Result)> done) {
        if (!work) {
            return false;
        }
        auto result = std::make_shared<Result>();
        auto finish = std::make_shared<std::function<void(Result)>>(std::move(done));
        auto out = std::make_shared<Out>(mailbox_);
        BoardJobRunner::Job job = [work = std::move(work), result, out](
                                      const std::atomic<bool>& cancel) { *result = work(cancel); };
        BoardJobRunner::Completion completion = [mailbox = mailbox_, result, finish, out] {
            std::lock_guard<std::mutex> lock(mailbox->mutex);
            if (BoardJob* target = mailbox->target) {
                QMetaObject::invokeMethod(
                    target,
                    [target, result, finish] {
                        target->Finish();
                        if (*finish) {
                            (*finish)(std::move(*result));
                        }
                    },
                    Qt::QueuedConnection);
            }
        };
        out.reset();
        const bool submitted = queue ? runner_->Enqueue(std::move(job), std::move(completion), this)
                                     : runner_->Submit(std::move(job), std::move(completion), this);
        if (!submitted) {
            return false;
        }
        Begin(status);
        return true;
    }
    void Begin(const QString& status) {
        if (running_++ == 0 && owner_) {
            hadCursor_ = owner_->testAttribute(Qt::WA_SetCursor);
            previousCursor_ = owner_->cursor();
            owner_->setCursor(Qt::BusyCursor);
        }
        status_ = status;
    }
    void Finish() {
        if (running_ > 0 && --running_ > 0) {
            return;
        }
        status_.clear();
        if (owner_) {
            if (hadCursor_) {
                owner_->setCursor(previousCursor_);
            } else {
                owner_->unsetCursor();
            }
        }
    }

    QPointer<QWidget> owner_;
    std::unique_ptr<BoardJobRunner> own_;
    BoardJobRunner* runner_ = nullptr;
    std::shared_ptr<Mailbox> mailbox_;
    int running_ = 0;
    QString status_;
    bool hadCursor_ = false;
    QCursor previousCursor_;
};

}  // namespace kx
