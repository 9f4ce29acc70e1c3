// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace drainwatch {

// What the kernel says about suspend, at one moment, readable without root.
// Every field is empty where its file is missing, empty, garbled or fails to
// read: unknown, never 0.
struct SystemSnapshot {
    std::optional<std::string> mode;       // power/mem_sleep, the word in brackets
    std::optional<std::int64_t> successes; // power/suspend_stats/success
    std::optional<std::int64_t> failures;  // power/suspend_stats/fail
    std::optional<std::string> lastFailedDevice;
    std::optional<std::int64_t> hardwareSleepUs; // power/suspend_stats/total_hw_sleep
    std::optional<std::int64_t> lpitResidencyUs; // Intel LPIT system residency
    // class/wakeup: source name -> wakeup_count; empty where the folder is.
    std::optional<std::map<std::string, std::int64_t>> wakeupCounts;

    bool operator==(const SystemSnapshot&) const = default;
};

// Where snapshots come from: the /sys tree, or the simulator's.
class SnapshotSource {
public:
    virtual ~SnapshotSource() = default;
    virtual SystemSnapshot take() = 0;
};

// Reads a folder that stands for /sys. A few dozen small reads: taken at
// start, before a sleep and after one, never in an ordinary tick.
class SysfsSnapshotSource final : public SnapshotSource {
public:
    explicit SysfsSnapshotSource(std::filesystem::path root) : root_(std::move(root)) {}
    SystemSnapshot take() override;

    // $DRAINWATCH_SYS_DIR, else /sys.
    static std::filesystem::path defaultRoot();
    // $DRAINWATCH_POWER_SUPPLY_DIR, else class/power_supply under defaultRoot().
    static std::filesystem::path powerSupplyFolder();

private:
    std::filesystem::path root_;
};

// "s2idle [deep]" -> "deep"; empty without exactly one bracketed word.
std::optional<std::string> selectedSleepMode(const std::string& text);

} // namespace drainwatch
