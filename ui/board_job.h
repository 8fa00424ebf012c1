// SPDX-License-Identifier: MIT
#pragma once

#include <QCursor>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <utility>

#include "station/board_jobs.h"

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
// One job at a time: Run refuses (returns false) while a job runs. The
// destructor waits for the running job, whose exchanges are bounded by their
// timeouts, and drops its completion.
class BoardJob : public QObject {
public:
    explicit BoardJob(QWidget* owner) : QObject(owner), owner_(owner) {}
    ~BoardJob() override {
        // Joins here, while this object can still take (and then drop) the
        // completion the worker may be queuing.
        runner_.reset();
    }
    BoardJob(const BoardJob&) = delete;
    BoardJob& operator=(const BoardJob&) = delete;

    template <class Result>
    bool Run(const QString& status, std::function<Result(const std::atomic<bool>&)> work,
             std::function<void(Result)> done) {
        if (running_ || !runner_ || !work) {
            return false;
        }
        auto result = std::make_shared<Result>();
        auto finish = std::make_shared<std::function<void(Result)>>(std::move(done));
        const bool submitted =
            runner_->Submit([work = std::move(work),
                             result](const std::atomic<bool>& cancel) { *result = work(cancel); },
                            [this, result, finish] {
                                QMetaObject::invokeMethod(
                                    this,
                                    [this, result, finish] {
                                        Finish();
                                        if (*finish) {
                                            (*finish)(std::move(*result));
                                        }
                                    },
                                    Qt::QueuedConnection);
                            });
        if (!submitted) {
            return false;
        }
        Start(status);
        return true;
    }

    // A job runs (from Run until just before its completion is called).
    bool Busy() const { return running_; }
    // What the running job does, for a status line; empty when idle.
    QString Status() const { return status_; }
    // Asks the running job to stop early.
    void Cancel() {
        if (runner_) {
            runner_->Cancel();
        }
    }

private:
    void Start(const QString& status) {
        running_ = true;
        status_ = status;
        if (owner_) {
            hadCursor_ = owner_->testAttribute(Qt::WA_SetCursor);
            previousCursor_ = owner_->cursor();
            owner_->setCursor(Qt::BusyCursor);
        }
    }
    void Finish() {
        running_ = false;
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
    std::unique_ptr<BoardJobRunner> runner_ = std::make_unique<BoardJobRunner>();
    bool running_ = false;
    QString status_;
    bool hadCursor_ = false;
    QCursor previousCursor_;
};

}  // namespace kx
