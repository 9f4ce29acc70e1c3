#include "log/Logger.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace drainwatch {

namespace {

std::unique_ptr<Logger>& mainSlot()
{
    static std::unique_ptr<Logger> slot;
    return slot;
}

std::filesystem::path stateHome()
{
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/tmp") / ".local" / "state";
}

// stdio, not iostreams: these would set up the C++ locale machinery and add
// half a MiB to the resident memory of a program that has no other use for it.
void printLine(std::FILE* stream, const std::string& line)
{
    const std::string text = line + '\n';
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

std::string timeStamp(double seconds)
{
    static const bool zoneRead = (tzset(), true);
    (void)zoneRead;
    const auto whole = static_cast<std::time_t>(std::floor(seconds));
    std::tm local{};
    localtime_r(&whole, &local);
    return fmt::format("{:02}:{:02}:{:02}", local.tm_hour, local.tm_min, local.tm_sec);
}

// Only the characters that may not stand in a URL path are escaped.
std::string percentEncodePath(const std::string& path)
{
    std::string out;
    for (unsigned char c : path) {
        if ((c < 0x80 && std::isalnum(c)) || std::strchr("/-._~!$&'()*+,;=:@", c))
            out += static_cast<char>(c);
        else
            out += fmt::format("%{:02X}", c);
    }
    return out;
}

} // namespace

Logger::Logger(std::filesystem::path file, const Clock& clock, bool announceCreation)
    : path_(std::move(file)), clock_(clock)
{
    std::error_code error;
    std::filesystem::create_directories(path_.parent_path(), error);
    if (error) {
        printLine(stderr, "Drainwatch: cannot create the log folder " + path_.parent_path().string() + ": " +
                              error.message() + "; running without a log.");
        return;
    }
    fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd_ >= 0)
        return;
    if (errno == ENOENT) {
        if (announceCreation)
            printLine(stdout, fileURL());
        fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    }
    if (fd_ < 0) {
        const int reason = errno;
        printLine(stderr, "Drainwatch: cannot open the log " + path_.string() + ": " + std::strerror(reason) +
                              "; running without a log.");
    }
}

Logger::~Logger()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::filesystem::path Logger::defaultPath(std::string_view fileName)
{
    return stateHome() / "Logs" / "Drainwatch" / std::string(fileName);
}

Logger& Logger::main()
{
    auto& slot = mainSlot();
    if (!slot) {
        static const SystemClock systemClock;
        slot = std::make_unique<Logger>(defaultPath("Drainwatch.log"), systemClock);
    }
    return *slot;
}

void Logger::installMain(std::unique_ptr<Logger> logger) { mainSlot() = std::move(logger); }

std::string Logger::fileURL() const
{
    return "file://" + percentEncodePath(std::filesystem::absolute(path_).string());
}

void Logger::debugLine(std::string_view message)
{
    std::string line = "[" + timeStamp(clock_.now()) + "] ";
    line += message;
    append(std::move(line));
}

void Logger::writeLine(std::string_view message) { append(std::string(message)); }

void Logger::append(std::string line)
{
    if (fd_ < 0)
        return;
    line += '\n';
    ssize_t written;
    do
        written = ::write(fd_, line.data(), line.size());
    while (written < 0 && errno == EINTR);
    if (written == static_cast<ssize_t>(line.size()))
        return;
    // A full disk or a vanished file: say it once, keep counting, try again with the next line.
    if (!writeFailureReported_) {
        writeFailureReported_ = true;
        const char* reason = written < 0 ? std::strerror(errno) : "short write";
        printLine(stderr, "Drainwatch: cannot write to the log " + path_.string() + ": " + reason +
                              "; the count goes on without it.");
    }
}

} // namespace drainwatch
