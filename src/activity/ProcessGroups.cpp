// SPDX-License-Identifier: MIT
#include "activity/ProcessGroups.h"

#include "activity/DesktopEntry.h"
#include "activity/SmallFile.h"

#include <array>
#include <charconv>
#include <dirent.h>

namespace drainwatch {

std::optional<ProcessStat> parseProcessStat(std::string_view text)
{
    auto open = text.find('(');
    auto close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return std::nullopt;
    ProcessStat stat;
    stat.comm = std::string(text.substr(open + 1, close - open - 1));
    // After ')': state(3) ppid pgrp session tty_nr tpgid flags minflt cminflt
    // majflt cmajflt utime(14) stime(15) ... starttime(22).
    auto rest = text.substr(close + 1);
    std::array<std::uint64_t, 20> fields{};
    std::size_t at = 0;
    for (std::size_t field = 3; field <= 22; ++field) {
        while (at < rest.size() && rest[at] == ' ')
            ++at;
        auto end = rest.find(' ', at);
        if (end == std::string_view::npos)
            end = rest.size();
        if (at >= end)
            return std::nullopt;
        if (field >= 14 || field == 9) {
            auto [stop, error] = std::from_chars(rest.data() + at, rest.data() + end, fields[field - 3]);
            if (error != std::errc() || (stop != rest.data() + end && *stop != '\n'))
                return std::nullopt;
        }
        at = end;
    }
    stat.cpuTicks = static_cast<double>(fields[14 - 3] + fields[15 - 3]);
    stat.startTicks = fields[22 - 3];
    constexpr std::uint64_t kKernelThreadFlag = 0x00200000;
    stat.kernelThread = (fields[9 - 3] & kKernelThreadFlag) != 0;
    return stat;
}

std::optional<unsigned> processOwner(const std::filesystem::path& statusPath)
{
    auto text = readSmallFile(statusPath, 2048);
    if (!text)
        return std::nullopt;
    auto line = text->find("\nUid:");
    if (line == std::string::npos)
        return std::nullopt;
    auto at = text->find_first_not_of(" \t", line + 5);
    if (at == std::string::npos)
        return std::nullopt;
    unsigned uid = 0;
    auto [stop, error] = std::from_chars(text->data() + at, text->data() + text->size(), uid);
    if (error != std::errc())
        return std::nullopt;
    return uid;
}

ProcessGroups::ProcessGroups(std::filesystem::path procDir, unsigned uid, long ticksPerSecond)
    : procDir_(std::move(procDir)), uid_(uid), ticksPerSecond_(ticksPerSecond > 0 ? ticksPerSecond : 100)
{
}

std::map<std::string, double> ProcessGroups::read()
{
    std::map<std::pair<int, std::uint64_t>, Seen> now;
    DIR* dir = ::opendir(procDir_.c_str());
    if (dir) {
        while (auto* entry = ::readdir(dir)) {
            int pid = 0;
            std::string_view name(entry->d_name);
            auto [stop, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
            if (error != std::errc() || stop != name.data() + name.size() || pid <= 0)
                continue;
            auto statPath = procDir_ / name / "stat";
            if (processOwner(procDir_ / name / "status") != uid_)
                continue;
            auto text = readSmallFile(statPath, 1024);
            auto stat = text ? parseProcessStat(*text) : std::nullopt;
            if (!stat || stat->kernelThread)
                continue;
            now[{pid, stat->startTicks}] = {"exe:" + cleanName(stat->comm, 32),
                                            stat->cpuTicks / static_cast<double>(ticksPerSecond_)};
        }
        ::closedir(dir);
    }
    for (const auto& [id, seen] : live_) {
        auto still = now.find(id);
        if (still == now.end())
            exitedSeconds_[seen.group] += seen.seconds;
        else if (still->second.seconds < seen.seconds)
            still->second.seconds = seen.seconds; // never let a garbled read pull a name back
    }
    live_ = std::move(now);

    std::map<std::string, double> groups = exitedSeconds_;
    for (const auto& [id, seen] : live_)
        groups[seen.group] += seen.seconds;
    totalSeconds_ = 0;
    for (const auto& [group, seconds] : groups)
        totalSeconds_ += seconds;
    return groups;
}

} // namespace drainwatch
