// SPDX-License-Identifier: MIT
#pragma once

#include "measure/Clock.h"

#include <fmt/printf.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace drainwatch {

// The plain-text event log. Lines are printf-style and never follow the
// locale; each line reaches the file in one write, appended (O_APPEND), so a
// crash never leaves half a line behind another.
class Logger {
public:
    // announceCreation: print the file's URL on standard output when the file
    // has to be created (a first run). The simulator keeps its output clean.
    Logger(std::filesystem::path file, const Clock& clock, bool announceCreation = true);
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // $XDG_STATE_HOME/Logs/Drainwatch/<fileName>, ~/.local/state by default;
    // empty without a home folder, and a logger on an empty path logs nothing.
    static std::filesystem::path defaultPath(std::string_view fileName);

    // The program's one logger, built on first use at defaultPath("Drainwatch.log").
    static Logger& main();
    // Puts another logger in its place (the simulator, --simulate, tests).
    static void installMain(std::unique_ptr<Logger> logger);

    template <typename... Args>
    void debug(std::string_view format, const Args&... args)
    {
        debugLine(fmt::sprintf(format, args...));
    }
    template <typename... Args>
    void write(std::string_view format, const Args&... args)
    {
        writeLine(fmt::sprintf(format, args...));
    }

    // "[HH:mm:ss] " + message, in the local time zone.
    void debugLine(std::string_view message);
    void writeLine(std::string_view message);

    const std::filesystem::path& filePath() const { return path_; }
    std::string fileURL() const;
    bool isOpen() const { return fd_ >= 0; }

private:
    void append(std::string line);

    std::filesystem::path path_;
    const Clock& clock_;
    int fd_ = -1;
    bool writeFailureReported_ = false;
};

} // namespace drainwatch
