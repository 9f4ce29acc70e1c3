// SPDX-License-Identifier: MIT
#include "sleep/SystemSnapshot.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include <systemd/sd-journal.h>

namespace drainwatch {

namespace {

// The whole of a small sysfs file, without its line end; empty on any
// failure (missing, EIO, a folder), with errno in `error`. sysfs files fit in
// one page.
std::optional<std::string> readText(const std::filesystem::path& file, int* error = nullptr)
{
    if (error)
        *error = 0;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char buffer[4096];
    std::string text;
    bool failed = false;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (error)
                *error = errno;
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
std::optional<std::int64_t> countIn(const std::optional<std::string>& text)
{
    if (!text || text->empty())
        return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size() || value < 0)
        return std::nullopt;
    return value;
}

std::optional<std::int64_t> readCount(const std::filesystem::path& file) { return countIn(readText(file)); }

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

std::optional<std::map<std::string, std::int64_t>> readWakeupEvents(const std::filesystem::path& folder)
{
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error)
        return std::nullopt;
    std::map<std::string, std::int64_t> counts;
    for (const auto& entry : entries) {
        const auto name = readName(entry.path() / "name");
        const auto count = readCount(entry.path() / "event_count");
        // Two sources may share a name (one per device): their counts add up.
        if (name && count)
            counts[*name] += *count;
    }
    return counts;
}

// pm_wakeup_irq answers ENODATA for a cycle no armed interrupt ended.
std::optional<std::int64_t> readWakeupIrq(const std::filesystem::path& file)
{
    int error = 0;
    const auto text = readText(file, &error);
    if (!text && error == ENODATA)
        return 0;
    return countIn(text);
}

// "8:3", "254:1": a device to resume from; "0:0" is none.
bool namesResumeDevice(const std::optional<std::string>& text) { return text && !text->empty() && *text != "0:0"; }

} // namespace

bool isDeviceStep(const std::string& step) { return step != "freeze" && step != "prepare"; }

std::optional<std::string> sleepEntryOf(const std::string& message)
{
    // kernel/power/suspend.c logs it at every suspend, with the mem_sleep label.
    constexpr std::string_view suspend = "PM: suspend entry (";
    if (message.starts_with(suspend)) {
        const auto close = message.find(')', suspend.size());
        if (close == std::string::npos)
            return std::nullopt;
        const std::string state = message.substr(suspend.size(), close - suspend.size());
        if (state == "s2idle" || state == "deep" || state == "shallow")
            return state;
        return std::nullopt;
    }
    if (message == "PM: hibernation: hibernation entry" || message == "PM: hibernation entry")
        return "hibernate";
    return std::nullopt;
}

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
    for (const char* step : kSuspendSteps)
        if (const auto count = readCount(stats / (std::string("failed_") + step)))
            snapshot.stepFailures[step] = *count;
    snapshot.hardwareSleepUs = readCount(stats / "total_hw_sleep");
    snapshot.maxHardwareSleepUs = readCount(stats / "max_hw_sleep");
    snapshot.lpitResidencyUs =
        readCount(root_ / "devices" / "system" / "cpu" / "cpuidle" / "low_power_idle_system_residency_us");
    snapshot.wakeupEvents = readWakeupEvents(root_ / "class" / "wakeup");
    snapshot.wakeupIrq = readWakeupIrq(power / "pm_wakeup_irq");
    if (snapshot.wakeupIrq && *snapshot.wakeupIrq > 0)
        snapshot.wakeupIrqActions =
            readName(root_ / "kernel" / "irq" / std::to_string(*snapshot.wakeupIrq) / "actions");
    snapshot.canHibernate = namesResumeDevice(readText(power / "resume"));
    return snapshot;
}

SleepEntries SysfsSnapshotSource::sleepEntriesSince(double wallTime)
{
    SleepEntries entries;
    // A recorded tree stands for another machine: this one's log is not its.
    if (root_ != "/sys" || !(wallTime > 0))
        return entries;
    sd_journal* journal = nullptr;
    if (sd_journal_open(&journal, SD_JOURNAL_LOCAL_ONLY | SD_JOURNAL_SYSTEM) < 0)
        return entries;
    if (sd_journal_add_match(journal, "_TRANSPORT=kernel", 0) >= 0 &&
        sd_journal_seek_realtime_usec(journal, static_cast<std::uint64_t>(wallTime * 1e6)) >= 0) {
        // A night's kernel log is a few hundred lines; a bound keeps a
        // chatty driver from making the wake slow.
        for (int lines = 0; lines < 20000 && sd_journal_next(journal) > 0; ++lines) {
            const void* data = nullptr;
            std::size_t length = 0;
            if (sd_journal_get_data(journal, "MESSAGE", &data, &length) < 0 || length < 8)
                continue;
            const std::string message(static_cast<const char*>(data) + 8, length - 8);
            if (auto entry = sleepEntryOf(message))
                entries.push_back(std::move(*entry));
        }
    }
    sd_journal_close(journal);
    return entries;
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
