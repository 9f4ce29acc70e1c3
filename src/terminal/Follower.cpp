// SPDX-License-Identifier: MIT
#include "terminal/Follower.h"

#include <cerrno>
#include <unistd.h>

namespace drainwatch {

Follower::End Follower::run(int fd)
{
    std::string received;
    bool anyLine = false;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        received.append(buffer, static_cast<std::size_t>(count));
        for (std::size_t end; (end = received.find('\n')) != std::string::npos; received.erase(0, end + 1)) {
            anyLine = true;
            if (!show(received.substr(0, end))) {
                ::close(fd);
                return End::OutputLost;
            }
        }
    }
    ::close(fd);
    return anyLine ? End::MonitorEnded : End::NothingCame;
}

bool Follower::show(const std::string& line)
{
    std::string text = line + '\n';
    if (format_ == TerminalFrontEnd::Format::Waybar)
        text = waybarLine(StatusBarFigures::fromJson(line), &template_) + '\n';
    else if (format_ == TerminalFrontEnd::Format::Template)
        text = template_.expand(StatusBarFigures::fromJson(line)) + '\n';
    else if (format_ != TerminalFrontEnd::Format::Json) {
        if (columns)
            block_.setColumns(columns());
        text = block_.next(StatusBarFigures::fromJson(line).texts);
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), out_) == text.size();
    return std::fflush(out_) == 0 && written && !std::ferror(out_);
}

} // namespace drainwatch
