#pragma once

#include <QByteArray>
#include <QStringList>

#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace drainwatch::test {

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const QByteArray& value) : name_(name)
    {
        if (qEnvironmentVariableIsSet(name))
            old_ = qgetenv(name);
        qputenv(name, value);
    }
    ~ScopedEnvironment() { old_ ? qputenv(name_, *old_) : qunsetenv(name_); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name_;
    std::optional<QByteArray> old_;
};

// Standard error into a pipe: a file would be cut short by a file size limit.
class StderrCapture {
public:
    StderrCapture()
    {
        std::fflush(stderr);
        if (::pipe2(pipe_, O_NONBLOCK | O_CLOEXEC) != 0 || (saved_ = ::dup(2)) < 0 || ::dup2(pipe_[1], 2) < 0)
            std::abort();
    }
    ~StderrCapture()
    {
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
        ::close(pipe_[0]);
        ::close(pipe_[1]);
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // The lines written since the last call.
    QStringList lines()
    {
        std::fflush(stderr);
        char buffer[4096];
        ssize_t count;
        while ((count = ::read(pipe_[0], buffer, sizeof buffer)) > 0)
            text_.append(buffer, count);
        QStringList result = QString::fromLocal8Bit(text_).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        text_.clear();
        return result;
    }

private:
    int pipe_[2] = {-1, -1};
    int saved_ = -1;
    QByteArray text_;
};

} // namespace drainwatch::test
