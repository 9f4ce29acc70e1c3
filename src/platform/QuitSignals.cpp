// SPDX-License-Identifier: MIT
#include "platform/QuitSignals.h"

#include "platform/Diagnostic.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace drainwatch {

namespace {

constexpr int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};

std::atomic<int> pipeWriteEnd{-1};
QuitSignals* instance = nullptr;
struct sigaction previousActions[std::size(kQuitSignals)];

extern "C" void onQuitSignal(int signalNumber)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A full pipe drops the byte: quit requests already wait in it.
    if (::write(pipeWriteEnd.load(), &byte, 1) < 0) {}
    errno = savedErrno;
}

void installHandlers()
{
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kQuitSignals); ++i)
        sigaction(kQuitSignals[i], &action, &previousActions[i]);
}

void restoreHandlers()
{
    for (std::size_t i = 0; i < std::size(kQuitSignals); ++i)
        sigaction(kQuitSignals[i], &previousActions[i], nullptr);
}

} // namespace

QuitSignals* QuitSignals::install(QObject* parent)
{
    if (instance)
        return instance;
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        // The default actions stay: such a signal ends the process unsaved.
        printDiagnostic(QStringLiteral("cannot watch for quit signals (%1); they end the program without saving.")
                            .arg(QString::fromLocal8Bit(std::strerror(errno))));
    instance = new QuitSignals(parent, ends[0], ends[1]);
    return instance;
}

QuitSignals::QuitSignals(QObject* parent, int readEnd, int writeEnd)
    : QObject(parent), readEnd_(readEnd), writeEnd_(writeEnd)
{
    if (readEnd_ < 0)
        return;
    auto* notifier = new QSocketNotifier(readEnd_, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &QuitSignals::drain);
    pipeWriteEnd.store(writeEnd_);
    installHandlers();
}

QuitSignals::~QuitSignals()
{
    instance = nullptr;
    if (readEnd_ < 0)
        return;
    restoreHandlers();
    pipeWriteEnd.store(-1);
    ::close(readEnd_);
    ::close(writeEnd_);
}

void QuitSignals::drain()
{
    unsigned char bytes[64];
    ssize_t count;
    while ((count = ::read(readEnd_, bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < count; ++i)
            emit quitRequested(bytes[i]);
}

} // namespace drainwatch
