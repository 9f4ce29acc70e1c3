#include "app/Follower.h"

#include "app/StatusFields.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include <fmt/format.h>

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
        text = waybarLine(StatusBarFigures::fromJson(line)) + '\n';
    else if (format_ == TerminalFrontEnd::Format::Template)
        text = template_.expand(StatusBarFigures::fromJson(line)) + '\n';
    else if (format_ != TerminalFrontEnd::Format::Json) {
        const QJsonObject figures = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        std::size_t width = 0;
        for (const StatusField& field : kStatusFields)
            width = std::max(width, std::strlen(field.caption));
        text.clear();
        if (format_ == TerminalFrontEnd::Format::Redraw && blocksWritten_ > 0)
            text += fmt::format("\x1b[{}A", kStatusFields.size());
        else if (format_ == TerminalFrontEnd::Format::Blocks && blocksWritten_ > 0)
            text += '\n';
        for (const StatusField& field : kStatusFields) {
            if (format_ == TerminalFrontEnd::Format::Redraw)
                text += "\r\x1b[2K";
            text += fmt::format("{:>{}}  {}\n", field.caption, width, figures[field.outlet].toString().toStdString());
        }
    }
    ++blocksWritten_;
    const bool written = std::fwrite(text.data(), 1, text.size(), out_) == text.size();
    return std::fflush(out_) == 0 && written && !std::ferror(out_);
}

} // namespace drainwatch
