// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace drainwatch {

// The fields of /proc/PID/stat that count: comm may hold spaces and
// parentheses, so the fields after it are read from the last ')'.
struct ProcessStat {
    std::string comm;
    double cpuTicks = 0; // utime + stime
    std::uint64_t startTicks = 0;
    // The kernel's own (PF_KTHREAD): root owns them, but they are no
    // application; their time is "Kernel and other".
    bool kernelThread = false;
};
std::optional<ProcessStat> parseProcessStat(std::string_view statText);

// The real UID, first of the four on the Uid: line of /proc/PID/status: a
// recorded tree keeps it, where the owner of the files would be the reader's.
std::optional<unsigned> processOwner(const std::filesystem::path& statusPath);

// CPU seconds per executable name of one user's processes, for machines
// where applications have no units of their own. Lives across reads: a
// process is known by (pid, start time), so a reused PID is a new process,
// and the time of one that exited stays with its name, so a name's
// counter only rises. A process that began and ended between two reads is
// not seen: its time falls to the busy time no counter explains.
class ProcessGroups {
public:
    ProcessGroups(std::filesystem::path procDir, unsigned uid, long ticksPerSecond);

    // Key "exe:NAME" → seconds since each process began, exited ones kept.
    std::map<std::string, double> read();
    double totalSeconds() const { return totalSeconds_; }

private:
    struct Seen {
        std::string group;
        double seconds = 0;
    };
    std::filesystem::path procDir_;
    unsigned uid_;
    long ticksPerSecond_;
    std::map<std::pair<int, std::uint64_t>, Seen> live_;
    std::map<std::string, double> exitedSeconds_;
    double totalSeconds_ = 0;
};

} // namespace drainwatch
