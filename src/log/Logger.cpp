// SPDX-License-Identifier: MIT
#include "log/Logger.h"

#include "log/UserHome.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace drainwatch {

namespace {

std::unique_ptr<Logger>& mainSlot()
{
    static std::unique_ptr<Logger> slot;
    return slot;
}

// Empty when there is no home folder to put it in.
std::filesystem::path stateHome()
{
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
        return xdg;
    const auto home = userHome();
    return home ? *home / ".local" / "state" : std::filesystem::path();
}

// The folders it makes are the user's alone; those already there are left as they are.
std::error_code makePrivateFolders(const std::filesystem::path& folder)
{
    std::error_code error;
    if (std::filesystem::is_directory(folder, error))
        return {};
    if (folder.has_relative_path() && folder.parent_path() != folder)
        if (const auto parentError = makePrivateFolders(folder.parent_path()))
            return parentError;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {errno, std::generic_category()};
    if (!std::filesystem::is_directory(folder, error))
        return std::make_error_code(std::errc::not_a_directory);
    return {};
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
    // Past some 30 million years (a damaged store, a scenario's clock) the
    // conversion to time_t would be undefined, and no calendar holds it.
    constexpr double kLatestShown = 1e15;
    std::tm local{};
    if (!(std::fabs(seconds) < kLatestShown))
        return "--:--:--";
    const auto whole = static_cast<std::time_t>(std::floor(seconds));
    if (!localtime_r(&whole, &local))
        return "--:--:--";
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
    if (path_.empty()) {
        printLine(stderr, "Drainwatch: no home folder to keep the log in (HOME is not set and the password database "
                          "names none); running without a log.");
        return;
    }
    if (const auto error = makePrivateFolders(path_.parent_path())) {
        printLine(stderr, "Drainwatch: cannot create the log folder " + path_.parent_path().string() + ": " +
                              error.message() + "; running without a log.");
        return;
    }
    // Never through a symbolic link, never blocked by a FIFO: only a regular
    // file of this user's is appended to.
    constexpr int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    fd_ = ::open(path_.c_str(), flags);
    if (fd_ < 0 && errno == ENOENT) {
        if (announceCreation)
            printLine(stdout, fileURL());
        fd_ = ::open(path_.c_str(), flags | O_CREAT | O_EXCL, 0600);
    }
    std::string reason;
    if (fd_ < 0) {
        reason = errno == ELOOP   ? "it is a symbolic link"
                 : errno == ENXIO ? "it is not a regular file"
                                  : std::strerror(errno);
    } else {
        struct stat status {};
        if (::fstat(fd_, &status) != 0)
            reason = std::strerror(errno);
        else if (!S_ISREG(status.st_mode))
            reason = "it is not a regular file";
        else if (status.st_uid != ::geteuid())
            reason = "it belongs to another user";
    }
    if (reason.empty())
        return;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    printLine(stderr, "Drainwatch: cannot open the log " + path_.string() + ": " + reason + "; running without a log.");
}

Logger::~Logger()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::filesystem::path Logger::defaultPath(std::string_view fileName)
{
    const auto base = stateHome();
    return base.empty() ? base : base / "Logs" / "Drainwatch" / std::string(fileName);
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

std::string Logger::fileURL() const { return "file://" + percentEncodePath(std::filesystem::absolute(path_).string()); }

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
