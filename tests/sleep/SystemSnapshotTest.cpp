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

TEST(SystemSnapshot, ReadsTheRecordedMachinesAndKnowsNothingOfAGarbledOrMissingOne)
{
    using Counts = std::map<std::string, std::int64_t>;
    const Counts intelWakeups{{"0000:00:14.0", 5}, {"ACPI0003:00", 9}, {"INT33D5:00", 3},       {"PNP0C0A:00", 0},
                              {"PNP0C0C:00", 2},   {"PNP0C0D:00", 17}, {"alarmtimer.0.auto", 0}};
    const Counts amdWakeups{{"0000:c1:00.3", 2}, {"ACPI0003:00", 14}, {"AMDI0010:03", 6}, {"PNP0C09:00", 37},
                            {"PNP0C0C:00", 1},   {"PNP0C0D:00", 110}, {"serio0", 0}};
    // Mode, successes, failures, the last failed device, hardware sleep, LPIT
    // residency, wakeup counts.
    const std::pair<const char*, SystemSnapshot> machines[] = {
        {"intel-s2idle-lpit", {"s2idle", 42, 1, "0000:00:14.0", {}, 81234567890, intelWakeups}},
        {"amd-s2idle-hwsleep", {"s2idle", 118, 0, {}, 912345678901, {}, amdWakeups}},
        {"deep-without-stats", {"deep", 7, 0, {}, {}, {}, {}}},
        // Only the one well-formed wakeup source survives.
        {"garbled", {{}, {}, {}, {}, {}, {}, Counts{}}},
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
    std::ofstream(folder.path() / "class" / "wakeup" / "wakeup9" / "wakeup_count") << "4\n";
    const SystemSnapshot changed = snapshotOf(folder.path());
    EXPECT_FALSE(changed.hardwareSleepUs);
    EXPECT_EQ(changed.successes, 118);
    EXPECT_EQ(changed.wakeupCounts->at("PNP0C0D:00"), 114);
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
