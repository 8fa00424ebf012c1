// SPDX-License-Identifier: MIT
#pragma once

#include <mutex>

namespace kx {

// The one lock type of the station. Re-entrant for the thread that holds it,
// so an operation that holds a board's lock may call another operation of the
// same board.
class CSectionLock {
public:
    CSectionLock() = default;
    CSectionLock(const CSectionLock&) = delete;
    CSectionLock& operator=(const CSectionLock&) = delete;

    void Lock() { mutex_.lock(); }
    void Unlock() { mutex_.unlock(); }

    // BasicLockable, so std::unique_lock and std::condition_variable_any work too.
    void lock() { Lock(); }
    void unlock() { Unlock(); }

private:
    std::recursive_mutex mutex_;
};

// Holds a CSectionLock from construction to the end of the scope, whichever
// way the scope is left.
class CSectionGuard {
public:
    explicit CSectionGuard(CSectionLock* lock) : lock_(lock) { lock_->Lock(); }
    ~CSectionGuard() { lock_->Unlock(); }
    CSectionGuard(const CSectionGuard&) = delete;
    CSectionGuard& operator=(const CSectionGuard&) = delete;

private:
    CSectionLock* lock_;
};

}  // namespace kx
