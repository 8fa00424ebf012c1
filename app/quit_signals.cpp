// SPDX-License-Identifier: MIT
#include "app/quit_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace kx {

namespace {

// Written by the handler, read on the user-interface thread.
int g_signalPipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void OnQuitSignal(int number) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // Nothing to do when the pipe is full: a quit is already on its way.
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

QuitSignals::QuitSignals(QObject* parent) : QObject(parent) {
    if (g_signalPipe[0] >= 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0) {
        return;
    }
    notifier_ = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &QuitSignals::Read);
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : kSignals) {
        ::sigaction(number, &action, nullptr);
    }
}

QuitSignals::~QuitSignals() {
    if (notifier_ == nullptr) {
        return;
    }
    for (int number : kSignals) {
        ::signal(number, SIG_DFL);
    }
    delete notifier_;
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
}

void QuitSignals::Read() {
    unsigned char byte = 0;
    while (::read(g_signalPipe[0], &byte, 1) == 1) {
        emit quitRequested(byte);
    }
}

}  // namespace kx
