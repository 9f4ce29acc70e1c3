// SPDX-License-Identifier: MIT
#include "activity/SystemActivitySource.h"

#include <cstdlib>

#include "activity/CgroupUnit.h"
#include "activity/DesktopEntry.h"
#include "activity/DeviceReadings.h"
#include "activity/ProcStat.h"
#include "activity/SmallFile.h"

#include <chrono>
#include <system_error>
#include <unistd.h>

namespace drainwatch {

namespace {

std::optional<double> cgroupUsage(const std::filesystem::path& cgroup)
{
    auto text = readSmallFile(cgroup / "cpu.stat");
    return text ? usageSecondsFromCpuStat(*text) : std::nullopt;
}

// The user manager's cgroup (…/user-UID.slice/user@UID.service) from this
// process's own line "0::PATH" of /proc/self/cgroup; empty on cgroup v1.
std::optional<std::filesystem::path> userManagerOf(const std::filesystem::path& cgroupRoot,
                                                   const std::filesystem::path& procDir, unsigned uid)
{
    if (!std::filesystem::exists(cgroupRoot / "cgroup.controllers"))
        return std::nullopt;
    std::string userSlice = "user.slice/user-" + std::to_string(uid) + ".slice";
    auto text = readSmallFile(procDir / "self/cgroup");
    if (text) {
        auto line = text->find("0::/");
        auto at = line == std::string::npos ? std::string::npos : text->find(userSlice, line);
        if (at != std::string::npos && at == line + 4)
            userSlice = text->substr(line + 4, userSlice.size());
    }
    return cgroupRoot / userSlice / ("user@" + std::to_string(uid) + ".service");
}

} // namespace

void SystemActivitySource::Usage::add(std::optional<double> more)
{
    if (seconds && more)
        *seconds += *more;
    else
        seconds.reset();
}

SystemActivitySource::SystemActivitySource(std::filesystem::path sysDir, std::filesystem::path procDir,
                                           std::vector<std::filesystem::path> dataDirs)
    // The user of /proc/self: this process's own, or a recorded tree's.
    : SystemActivitySource(sysDir, procDir, dataDirs, processOwner(procDir / "self" / "status").value_or(::getuid()))
{
}

SystemActivitySource::SystemActivitySource(std::filesystem::path sysDir, std::filesystem::path procDir,
                                           std::vector<std::filesystem::path> dataDirs, unsigned uid)
    : sysDir_(std::move(sysDir)),
      procDir_(std::move(procDir)),
      dataDirs_(std::move(dataDirs)),
      uid_(uid),
      processes_(procDir_, uid, ::sysconf(_SC_CLK_TCK))
{
}

ActivityCounter SystemActivitySource::named(const std::string& desktopId)
{
    auto known = names_.find(desktopId);
    if (known != names_.end())
        return known->second;
    auto entry = findDesktopEntry(dataDirs_, desktopId);
    ActivityCounter counter;
    counter.name = entry.name;
    counter.icon = entry.icon;
    names_[desktopId] = counter;
    return counter;
}

void SystemActivitySource::readAppSlice(const std::filesystem::path& slice, std::map<std::string, Usage>& apps,
                                        Usage& session)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(slice, error)) {
        if (!entry.is_directory(error))
            continue;
        auto unit = entry.path().filename().string();
        if (auto id = desktopIdOfUnit(unit))
            apps[*id].add(cgroupUsage(entry.path())); // a slice's usage holds its children's
        else if (unit.ends_with(".slice"))
            readAppSlice(entry.path(), apps, session);
        else if (unit.ends_with(".scope") || unit.ends_with(".service"))
            session.add(cgroupUsage(entry.path()));
    }
}

ActivitySnapshot SystemActivitySource::read()
{
    ActivitySnapshot snapshot;
    snapshot.time = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    snapshot.busySeconds = readBusySeconds(procDir_);

    unsigned uid = uid_;
    auto cgroupRoot = sysDir_ / "fs/cgroup";
    auto manager = userManagerOf(cgroupRoot, procDir_, uid);
    std::map<std::string, Usage> apps;
    std::optional<Usage> session;
    if (manager) {
        session.emplace();
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(*manager, error)) {
            if (!entry.is_directory(error))
                continue;
            if (entry.path().filename() == "app.slice")
                readAppSlice(entry.path(), apps, *session);
            else
                session->add(cgroupUsage(entry.path()));
        }
        for (const auto& entry : std::filesystem::directory_iterator(manager->parent_path(), error)) {
            auto unit = entry.path().filename().string();
            if (unit.starts_with("session-") && unit.ends_with(".scope"))
                session->add(cgroupUsage(entry.path()));
        }
        if (auto system = cgroupUsage(cgroupRoot / "system.slice"))
            snapshot.counters["system"] = {"System services", "", ActivityKind::Group, system, {}};
    }

    if (apps.empty()) {
        // No application has a unit of its own: count by executable, and
        // leave the session what its scopes used beyond those processes.
        for (const auto& [key, seconds] : processes_.read())
            snapshot.counters[key] = {key.substr(4), "", ActivityKind::App, seconds, {}};
        if (session && session->seconds)
            session->seconds = *session->seconds > processes_.totalSeconds()
                                   ? std::optional<double>(*session->seconds - processes_.totalSeconds())
                                   : std::nullopt;
    }
    for (const auto& [id, usage] : apps) {
        auto counter = named(id);
        counter.cpuSeconds = usage.seconds;
        snapshot.counters["app:" + id] = counter;
    }
    if (session)
        snapshot.counters["session"] = {"Desktop session", "", ActivityKind::Group, session->seconds, {}};

    snapshot.brightness = readBrightness(sysDir_);
    snapshot.gpuBusy = readGpuBusy(sysDir_);
    snapshot.networkBytes = readNetworkBytes(sysDir_);
    return snapshot;
}

std::vector<std::filesystem::path> SystemActivitySource::defaultDataDirs()
{
    std::vector<std::filesystem::path> dirs;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && *dataHome == '/')
        dirs.emplace_back(dataHome);
    else if (home && *home == '/')
        dirs.push_back(std::filesystem::path(home) / ".local/share");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string list = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t colon = std::min(list.find(':', start), list.size());
        const std::string dir = list.substr(start, colon - start);
        // A relative entry is not meant: the specification of the variables says to ignore it.
        if (!dir.empty() && dir.front() == '/')
            dirs.emplace_back(dir);
        start = colon + 1;
    }
    return dirs;
}

} // namespace drainwatch
