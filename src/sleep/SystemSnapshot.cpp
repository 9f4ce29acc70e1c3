// SPDX-License-Identifier: MIT
#include "sleep/SystemSnapshot.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace drainwatch {

namespace {

// The whole of a small sysfs file, without its line end; empty on any
// failure (missing, EIO, a folder). sysfs files fit in one page.
std::optional<std::string> readText(const std::filesystem::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char buffer[4096];
    std::string text;
    bool failed = false;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            failed = true;
            break;
        }
        if (got == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > 65536) {
            failed = true;
            break;
        }
    }
    ::close(fd);
    if (failed)
        return std::nullopt;
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text;
}

// A whole non-negative decimal count, nothing else on the line.
std::optional<std::int64_t> readCount(const std::filesystem::path& file)
{
    const auto text = readText(file);
    if (!text || text->empty())
        return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size() || value < 0)
        return std::nullopt;
    return value;
}

// A name on one line, such as a device's; some wakeup sources have spaces.
std::optional<std::string> readName(const std::filesystem::path& file)
{
    auto text = readText(file);
    if (!text || text->empty())
        return std::nullopt;
    for (unsigned char c : *text)
        if (!std::isprint(c))
            return std::nullopt;
    return text;
}

std::optional<std::map<std::string, std::int64_t>> readWakeupCounts(const std::filesystem::path& folder)
{
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error)
        return std::nullopt;
    std::map<std::string, std::int64_t> counts;
    for (const auto& entry : entries) {
        const auto name = readName(entry.path() / "name");
        const auto count = readCount(entry.path() / "wakeup_count");
        // Two sources may share a name (one per device): their counts add up.
        if (name && count)
            counts[*name] += *count;
    }
    return counts;
}

} // namespace

std::optional<std::string> selectedSleepMode(const std::string& text)
{
    const auto open = text.find('[');
    const auto close = text.find(']', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos || close == open + 1 ||
        text.find('[', open + 1) != std::string::npos)
        return std::nullopt;
    std::string word = text.substr(open + 1, close - open - 1);
    for (unsigned char c : word)
        if (!std::isalnum(c) && c != '_' && c != '-')
            return std::nullopt;
    return word;
}

SystemSnapshot SysfsSnapshotSource::take()
{
    SystemSnapshot snapshot;
    const auto power = root_ / "power";
    if (const auto text = readText(power / "mem_sleep"))
        snapshot.mode = selectedSleepMode(*text);
    const auto stats = power / "suspend_stats";
    snapshot.successes = readCount(stats / "success");
    snapshot.failures = readCount(stats / "fail");
    snapshot.lastFailedDevice = readName(stats / "last_failed_dev");
    snapshot.hardwareSleepUs = readCount(stats / "total_hw_sleep");
    snapshot.lpitResidencyUs =
        readCount(root_ / "devices" / "system" / "cpu" / "cpuidle" / "low_power_idle_system_residency_us");
    snapshot.wakeupCounts = readWakeupCounts(root_ / "class" / "wakeup");
    return snapshot;
}

std::filesystem::path SysfsSnapshotSource::defaultRoot()
{
    const char* folder = std::getenv("DRAINWATCH_SYS_DIR");
    return folder && *folder ? folder : "/sys";
}

std::filesystem::path SysfsSnapshotSource::powerSupplyFolder()
{
    if (const char* folder = std::getenv("DRAINWATCH_POWER_SUPPLY_DIR"); folder && *folder)
        return folder;
    return defaultRoot() / "class" / "power_supply";
}

} // namespace drainwatch
