// SPDX-License-Identifier: MIT
#include "terminal/TerminalResize.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace drainwatch {

namespace {

std::atomic<int> writeEnd{-1};
struct sigaction previousAction;

extern "C" void onResize(int)
{
    const int savedErrno = errno;
    const char byte = 0;
    // A full pipe drops the byte: a redraw is due already.
    if (::write(writeEnd.load(), &byte, 1) < 0) {}
    errno = savedErrno;
}

} // namespace

int terminalColumns(int fd)
{
    winsize size{};
    return ::ioctl(fd, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

TerminalResize::TerminalResize(QObject* parent) : QObject(parent)
{
    // Without the pipe the block keeps the width it started with.
    if (::pipe2(ends_, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(ends_[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char buffer[64];
        while (::read(ends_[0], buffer, sizeof buffer) > 0) {}
        emit resized();
    });
    writeEnd.store(ends_[1]);
    struct sigaction action {};
    action.sa_handler = onResize;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &action, &previousAction);
}

TerminalResize::~TerminalResize()
{
    if (ends_[0] < 0)
        return;
    sigaction(SIGWINCH, &previousAction, nullptr);
    writeEnd.store(-1);
    ::close(ends_[0]);
    ::close(ends_[1]);
}

} // namespace drainwatch
