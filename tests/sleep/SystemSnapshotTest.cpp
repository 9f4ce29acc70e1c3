// SPDX-License-Identifier: MIT
#include "sleep/SystemSnapshot.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace drainwatch {
namespace {

const std::filesystem::path kTrees = std::filesystem::path(DRAINWATCH_TEST_DATA) / "sys";

SystemSnapshot snapshotOf(const std::filesystem::path& root) { return SysfsSnapshotSource(root).take(); }

// Mode, successes, failures, the last failed device, failed steps, hardware
// sleep and its maximum, LPIT residency, wakeup events, pm_wakeup_irq and its
// handlers, whether a hibernation can be resumed from.
SystemSnapshot machine(const char* mode, std::int64_t successes, std::int64_t failures,
                       std::optional<std::string> failedDevice, std::optional<std::int64_t> hwSleep,
                       std::optional<std::int64_t> maxHwSleep, std::optional<std::int64_t> lpit,
                       std::optional<std::map<std::string, std::int64_t>> events, std::optional<std::int64_t> irq,
                       std::optional<std::string> irqActions, bool canHibernate)
{
    SystemSnapshot s;
    s.mode = mode;
    s.successes = successes;
    s.failures = failures;
    s.lastFailedDevice = std::move(failedDevice);
    for (const char* step : kSuspendSteps)
        s.stepFailures[step] = 0;
    s.hardwareSleepUs = hwSleep;
    s.maxHardwareSleepUs = maxHwSleep;
    s.lpitResidencyUs = lpit;
    s.wakeupEvents = std::move(events);
    s.wakeupIrq = irq;
    s.wakeupIrqActions = std::move(irqActions);
    s.canHibernate = canHibernate;
    return s;
}

TEST(SystemSnapshot, ReadsTheRecordedMachinesAndKnowsNothingOfAGarbledOrMissingOne)
{
    using Counts = std::map<std::string, std::int64_t>;
    const Counts intelEvents{{"0000:00:14.0", 40}, {"ACPI0003:00", 31}, {"INT33D5:00", 3},       {"PNP0C0A:00", 12},
                             {"PNP0C0C:00", 2},    {"PNP0C0D:00", 17},  {"alarmtimer.0.auto", 0}};
    const Counts amdEvents{{"0000:c1:00.3", 19}, {"ACPI0003:00", 56}, {"AMDI0010:03", 6}, {"PNP0C09:00", 204},
                           {"PNP0C0C:00", 1},    {"PNP0C0D:00", 110}, {"serio0", 0}};
    SystemSnapshot intel = machine("s2idle", 42, 1, "0000:00:14.0", {}, {}, 81234567890, intelEvents, {}, {}, false);
    SystemSnapshot garbled;
    garbled.wakeupEvents = Counts{{"PNP0C0D:00", 3}, {"ACPI0003:00", 1}};
    const std::pair<const char*, SystemSnapshot> machines[] = {
        {"intel-s2idle-lpit", intel},
        {"amd-s2idle-hwsleep", machine("s2idle", 118, 0, {}, 912345678901, 36012345678, {}, amdEvents, {}, {}, false)},
        {"deep-without-stats", machine("deep", 7, 0, {}, {}, {}, {}, {}, {}, {}, false)},
        {"garbled", garbled},
        {"no-such-tree", {}},
    };
    for (const auto& [tree, expected] : machines)
        EXPECT_EQ(snapshotOf(kTrees / tree), expected) << tree;
}

TEST(SystemSnapshot, AnUnreadableFileIsUnknownTheOthersStand)
{
    // A read that fails (here EISDIR, as EIO would) leaves the field unknown,
    // the others stand.
    test::TemporaryFolder folder;
    std::filesystem::copy(kTrees / "amd-s2idle-hwsleep", folder.path(), std::filesystem::copy_options::recursive);
    const auto hwSleep = folder.path() / "power" / "suspend_stats" / "total_hw_sleep";
    std::filesystem::remove(hwSleep);
    std::filesystem::create_directory(hwSleep);
    // Two sources of one name (two devices of a driver) add up.
    std::filesystem::create_directories(folder.path() / "class" / "wakeup" / "wakeup9");
    std::ofstream(folder.path() / "class" / "wakeup" / "wakeup9" / "name") << "PNP0C0D:00\n";
    std::ofstream(folder.path() / "class" / "wakeup" / "wakeup9" / "event_count") << "4\n";
    const SystemSnapshot changed = snapshotOf(folder.path());
    EXPECT_FALSE(changed.hardwareSleepUs);
    EXPECT_EQ(changed.successes, 118);
    EXPECT_EQ(changed.wakeupEvents->at("PNP0C0D:00"), 114);
}

TEST(SystemSnapshot, SelectedModeIsTheOneBracketedWord)
{
    EXPECT_EQ(selectedSleepMode("s2idle [deep]"), "deep");
    EXPECT_EQ(selectedSleepMode("[s2idle] shallow deep"), "s2idle");
    EXPECT_EQ(selectedSleepMode("s2idle deep"), std::nullopt);
    EXPECT_EQ(selectedSleepMode("[] deep"), std::nullopt);
    EXPECT_EQ(selectedSleepMode("[s2idle] [deep]"), std::nullopt);
    EXPECT_EQ(selectedSleepMode("[s2 idle]"), std::nullopt);
}

TEST(SystemSnapshot, TheKernelsSleepLinesAreTheOnlyEntries)
{
    EXPECT_EQ(sleepEntryOf("PM: suspend entry (s2idle)"), "s2idle");
    EXPECT_EQ(sleepEntryOf("PM: suspend entry (deep)"), "deep");
    EXPECT_EQ(sleepEntryOf("PM: hibernation: hibernation entry"), "hibernate");
    EXPECT_EQ(sleepEntryOf("PM: hibernation entry"), "hibernate");
    EXPECT_EQ(sleepEntryOf("PM: suspend exit"), std::nullopt);
    EXPECT_EQ(sleepEntryOf("PM: suspend entry (mem"), std::nullopt);
    EXPECT_EQ(sleepEntryOf("PM: suspend entry (s2idle) and more"), "s2idle");
    EXPECT_EQ(sleepEntryOf("usb 1-2: PM: suspend entry (deep)"), std::nullopt);
    // A recorded tree is another machine: this one's journal is not read for it.
    EXPECT_TRUE(SysfsSnapshotSource(kTrees / "amd-lid-wake" / "after").sleepEntriesSince(1).empty());
}

TEST(SystemSnapshot, FoldersFollowTheEnvironment)
{
    ::unsetenv("DRAINWATCH_POWER_SUPPLY_DIR");
    ::unsetenv("DRAINWATCH_SYS_DIR");
    EXPECT_EQ(SysfsSnapshotSource::defaultRoot(), "/sys");
    EXPECT_EQ(SysfsSnapshotSource::powerSupplyFolder(), "/sys/class/power_supply");
    ::setenv("DRAINWATCH_SYS_DIR", "/tmp/machine", 1);
    EXPECT_EQ(SysfsSnapshotSource::powerSupplyFolder(), "/tmp/machine/class/power_supply");
    // The battery folder of its own keeps winning.
    ::setenv("DRAINWATCH_POWER_SUPPLY_DIR", "/tmp/batteries", 1);
    EXPECT_EQ(SysfsSnapshotSource::powerSupplyFolder(), "/tmp/batteries");
    ::unsetenv("DRAINWATCH_POWER_SUPPLY_DIR");
    ::unsetenv("DRAINWATCH_SYS_DIR");
}

} // namespace
} // namespace drainwatch
