// SPDX-License-Identifier: MIT
#pragma once

#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace kx::test {

// Waits at most `timeout` for `fd` to become readable (or reach its end).
inline bool WaitReadable(int fd, std::chrono::milliseconds timeout) {
    pollfd p{fd, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int n = ::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (n > 0) {
            return true;
        }
        if (n == 0 || errno != EINTR) {
            return false;
        }
    }
}

// A function run in a forked child process; the text it returns comes back
// through a pipe. A child that hangs is killed when its time is up, so a test
// of something that might block for ever stays bounded (a hung thread could
// not be stopped). The child runs only `fn` and leaves with _exit: no test
// assertion works in it, so it reports through its text.
class ChildProcess {
public:
    // With `unprivileged`, the child first becomes the user nobody (the
    // process must be root for that; otherwise the child fails).
    explicit ChildProcess(const std::function<std::string()>& fn, bool unprivileged = false) {
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ < 0) {
            ::close(fds[0]);
            ::close(fds[1]);
            return;
        }
        if (pid_ == 0) {
            ::close(fds[0]);
            constexpr uid_t kNobody = 65534;
            if (unprivileged && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 ||
                                 ::setuid(kNobody) != 0)) {
                ::_exit(3);
            }
            const std::string result = fn();
            std::size_t done = 0;
            while (done < result.size()) {
                const ssize_t n = ::write(fds[1], result.data() + done, result.size() - done);
                if (n <= 0) {
                    ::_exit(4);
                }
                done += static_cast<std::size_t>(n);
            }
            ::_exit(0);
        }
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) {
            ::close(out_);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The child's text when it finished within `timeout` and exited with 0;
    // nothing when it failed, was killed, or ran over time (it is then killed).
    std::optional<std::string> Wait(std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        if (pid_ <= 0) {
            return std::nullopt;
        }
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        auto left = [&] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
        };
        std::string result;
        char buf[4096];
        bool ended = false;
        while (!ended && WaitReadable(out_, left())) {
            const ssize_t n = ::read(out_, buf, sizeof buf);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                ended = true;
            } else {
                result.append(buf, static_cast<std::size_t>(n));
            }
        }
        int status = 0;
        pid_t done = 0;
        while (ended && (done = ::waitpid(pid_, &status, WNOHANG)) == 0 && left().count() > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (done != pid_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
            return std::nullopt;
        }
        pid_ = -1;
        status_ = status;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            return std::nullopt;
        }
        return result;
    }

    // After Wait: the signal that ended the child, 0 when none did.
    int KillSignal() const { return WIFSIGNALED(status_) ? WTERMSIG(status_) : 0; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = 0;
};

// Runs `fn` in a child process that the kernel kills (SIGXFSZ) the moment it
// writes past `bytes` of any file: a save killed half-way, as by a power cut
// or kill -9, without a seam in the code. True when the child died so.
inline bool RunKilledWhileWriting(std::size_t bytes, const std::function<void()>& fn) {
    ChildProcess child([&] {
        ::prctl(PR_SET_DUMPABLE, 0);  // no core dump
        ::signal(SIGXFSZ, SIG_DFL);
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = bytes;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            return std::string("no limit");
        }
        fn();
        return std::string("finished");
    });
    return !child.Wait() && child.KillSignal() == SIGXFSZ;
}

// Runs `fn` as a user who may write only where everybody may: directly when
// the tests run unprivileged, in a child process that gives up root
// otherwise (root writes into read-only folders). Returns what `fn` returned,
// or nothing when the privileges could not be given up.
inline std::optional<std::string> RunUnprivileged(const std::function<std::string()>& fn) {
    if (::geteuid() != 0) {
        return fn();
    }
    return ChildProcess(fn, true).Wait();
}

}  // namespace kx::test
