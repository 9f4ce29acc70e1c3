// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace drainwatch {

// The suspend steps with a failure counter of their own in suspend_stats
// (failed_<step>); the device steps name a device in last_failed_dev.
inline constexpr const char* kSuspendSteps[] = {"freeze",        "prepare",      "suspend",      "suspend_late",
                                                "suspend_noirq", "resume_noirq", "resume_early", "resume"};
bool isDeviceStep(const std::string& step);

// What the kernel says about suspend, at one moment, readable without root.
// Every field is empty where its file is missing, empty, garbled or fails to
// read: unknown, never 0.
struct SystemSnapshot {
    std::optional<std::string> mode;       // power/mem_sleep, the word in brackets
    std::optional<std::int64_t> successes; // power/suspend_stats/success
    std::optional<std::int64_t> failures;  // power/suspend_stats/fail
    std::optional<std::string> lastFailedDevice;
    // failed_<step> for the steps whose counter could be read.
    std::map<std::string, std::int64_t> stepFailures;
    // suspend_stats/total_hw_sleep and max_hw_sleep: max_hw_sleep stays 0
    // while no PMC driver feeds the total.
    std::optional<std::int64_t> hardwareSleepUs;
    std::optional<std::int64_t> maxHardwareSleepUs;
    std::optional<std::int64_t> lpitResidencyUs; // Intel LPIT system residency
    // class/wakeup: source name -> event_count. wakeup_count only counts
    // while user space holds power/wakeup_count, which systemd never does.
    std::optional<std::map<std::string, std::int64_t>> wakeupEvents;
    // power/pm_wakeup_irq: the interrupt that ended the last suspend cycle,
    // 0 where none did; with the handlers /sys/kernel/irq/N/actions names.
    std::optional<std::int64_t> wakeupIrq;
    std::optional<std::string> wakeupIrqActions;
    // power/resume names a device to resume from: a hibernation may have
    // happened. systemd writes it just before it hibernates.
    bool canHibernate = false;

    bool operator==(const SystemSnapshot&) const = default;
};

// The kernel's own word on which sleep it entered: its log lines "PM: suspend
// entry (s2idle)" / "(deep)" and "PM: hibernation: hibernation entry", as
// "s2idle", "deep" and "hibernate", oldest first.
using SleepEntries = std::vector<std::string>;

// Where snapshots come from: the /sys tree, or the simulator's.
class SnapshotSource {
public:
    virtual ~SnapshotSource() = default;
    virtual SystemSnapshot take() = 0;
    // The sleeps the kernel logged since a wall time. Empty also where its
    // log cannot be read: a user outside the journal's readers sees none.
    virtual SleepEntries sleepEntriesSince(double wallTime) = 0;
};

// Reads a folder that stands for /sys. A few dozen small reads: taken at
// start, before a sleep and after one, never in an ordinary tick. The kernel's
// log is the system journal, read where the user may.
class SysfsSnapshotSource final : public SnapshotSource {
public:
    explicit SysfsSnapshotSource(std::filesystem::path root) : root_(std::move(root)) {}
    SystemSnapshot take() override;
    SleepEntries sleepEntriesSince(double wallTime) override;

    // $DRAINWATCH_SYS_DIR, else /sys.
    static std::filesystem::path defaultRoot();
    // $DRAINWATCH_POWER_SUPPLY_DIR, else class/power_supply under defaultRoot().
    static std::filesystem::path powerSupplyFolder();

private:
    std::filesystem::path root_;
};

// "s2idle [deep]" -> "deep"; empty without exactly one bracketed word.
std::optional<std::string> selectedSleepMode(const std::string& text);

// One kernel log line as a sleep entry, or empty for any other line.
std::optional<std::string> sleepEntryOf(const std::string& message);

} // namespace drainwatch
