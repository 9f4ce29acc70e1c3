// SPDX-License-Identifier: MIT
#include "sleep/LidState.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace drainwatch {

bool Inhibitor::holds(const std::string& kind) const
{
    std::size_t from = 0;
    while (from <= what.size()) {
        const auto colon = std::min(what.find(':', from), what.size());
        if (what.compare(from, colon - from, kind) == 0)
            return true;
        from = colon + 1;
    }
    return false;
}

std::optional<bool> parseLidState(std::string_view text)
{
    constexpr std::string_view kLabel = "state:";
    if (!text.starts_with(kLabel))
        return std::nullopt;
    text.remove_prefix(kLabel.size());
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    if (text == "closed")
        return true;
    if (text == "open")
        return false;
    return std::nullopt;
}

ProcLidReader::ProcLidReader(std::filesystem::path procDir) : procDir_(std::move(procDir)) {}

ProcLidReader::~ProcLidReader()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::optional<bool> ProcLidReader::closed()
{
    if (fd_ < 0 && !searched_) {
        searched_ = true;
        // LID0, LID, LID1 ...: the first by name, as a laptop has one.
        std::vector<std::filesystem::path> lids;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(procDir_ / "acpi" / "button" / "lid", error))
            lids.push_back(entry.path() / "state");
        std::sort(lids.begin(), lids.end());
        for (const auto& lid : lids) {
            fd_ = ::open(lid.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd_ >= 0)
                break;
        }
    }
    if (fd_ < 0)
        return std::nullopt;
    char text[64];
    ssize_t got = 0;
    do
        got = ::pread(fd_, text, sizeof text, 0);
    while (got < 0 && errno == EINTR);
    if (got < 0) {
        // Gone (the driver unloaded): logind answers from now on.
        ::close(fd_);
        fd_ = -1;
        return std::nullopt;
    }
    return parseLidState(std::string_view(text, static_cast<std::size_t>(got)));
}

std::filesystem::path ProcLidReader::defaultProcDir()
{
    const char* folder = std::getenv("DRAINWATCH_PROC_DIR");
    return folder && *folder ? folder : "/proc";
}

} // namespace drainwatch
