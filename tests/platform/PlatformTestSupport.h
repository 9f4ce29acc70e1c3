// SPDX-License-Identifier: MIT
#pragma once

#include <QProcess>
#include <QStringList>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace drainwatch::test {

// Milliseconds after which a wait for a child process counts as a hang. Each
// wait ends as soon as what it waits for has come, so only a hung run waits
// this long; a loaded machine under the sanitizers may take seconds.
constexpr int kHangMs = 40000;

// Standard error into a pipe: a file would be cut short by a file size limit.
class StderrCapture {
public:
    StderrCapture()
    {
        std::fflush(stderr);
        if (saved_ < 0 || ::pipe2(pipe_, O_NONBLOCK | O_CLOEXEC) != 0 || ::dup2(pipe_[1], 2) < 0)
            std::abort();
    }
    ~StderrCapture()
    {
        std::fflush(stderr);
        ::dup2(saved_, 2);
        for (int fd : {saved_, pipe_[0], pipe_[1]})
            ::close(fd);
    }
    QStringList lines() // those written since the last call
    {
        std::fflush(stderr);
        QByteArray text;
        char buffer[4096];
        for (ssize_t count; (count = ::read(pipe_[0], buffer, sizeof buffer)) > 0;)
            text.append(buffer, count);
        return QString::fromLocal8Bit(text).split('\n', Qt::SkipEmptyParts);
    }

private:
    int saved_ = ::dup(2);
    int pipe_[2] = {-1, -1};
};

// A child process, killed (as in a crash) when it goes out of scope.
struct ChildProcess : QProcess {
    ~ChildProcess() override
    {
        kill();
        waitForFinished(kHangMs);
    }
};

// The next line of a child's standard output; empty after kHangMs without one.
inline QString readLine(QProcess& child)
{
    while (!child.canReadLine() && child.waitForReadyRead(kHangMs)) {}
    return QString::fromLocal8Bit(child.readLine().trimmed());
}

} // namespace drainwatch::test
