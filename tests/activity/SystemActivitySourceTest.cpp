// SPDX-License-Identifier: MIT
#include "activity/SystemActivitySource.h"
#include "support/Fakes.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace drainwatch;

namespace {

const std::filesystem::path trees = std::filesystem::path(DRAINWATCH_TEST_DATA) / "activity";

// One reader on a copy of a tree's before, then its after in the same
// place, as the machine changes under a reader that lives across reads.
struct TreeReads {
    ActivitySnapshot before;
    ActivitySnapshot after;
    ActivityInterval interval;

    explicit TreeReads(const std::string& tree)
    {
        // A folder of its own: the tests run side by side.
        drainwatch::test::TemporaryFolder folder;
        const auto root = folder.path() / tree;
        std::filesystem::copy(trees / tree / "before", root, std::filesystem::copy_options::recursive);
        SystemActivitySource source(root / "sys", root / "proc", {root / "share"}, 1000);
        before = source.read();
        std::filesystem::remove_all(root);
        std::filesystem::copy(trees / tree / "after", root, std::filesystem::copy_options::recursive);
        after = source.read();
        std::filesystem::remove_all(root);
        before.time = 1000;
        after.time = 1060;
        interval = activityBetween(before, after);
    }

    double cpuOf(const std::string& key) const
    {
        for (const auto& use : interval.uses)
            if (use.key == key)
                return use.cpuSeconds;
        ADD_FAILURE() << "no use " << key;
        return -1;
    }
    bool hasUse(const std::string& key) const
    {
        for (const auto& use : interval.uses)
            if (use.key == key)
                return true;
        return false;
    }
};

} // namespace

TEST(SystemActivitySource, GnomeAppsByDesktopIdWithTheirNamesAndTheGroups)
{
    TreeReads reads("gnome");
    const auto& counters = reads.before.counters;
    ASSERT_TRUE(counters.contains("app:org.mozilla.firefox"));
    EXPECT_EQ(counters.at("app:org.mozilla.firefox").name, "Firefox");
    EXPECT_EQ(counters.at("app:org.mozilla.firefox").icon, "org.mozilla.firefox");
    EXPECT_EQ(counters.at("app:org.gnome.Nautilus").name, "Files");
    EXPECT_DOUBLE_EQ(*counters.at("app:org.gnome.Nautilus").cpuSeconds, 25); // two instances
    EXPECT_EQ(counters.at("app:org.example.Evil").name, "Evil Name <b>markup</b>");
    EXPECT_EQ(counters.at("app:org.gnome.gedit").name, "gedit");
    EXPECT_EQ(counters.at("app:org.gnome.Terminal").name, "Terminal");
    EXPECT_EQ(counters.at("system").kind, ActivityKind::Group);
    EXPECT_DOUBLE_EQ(*counters.at("session").cpuSeconds, 214);
    EXPECT_FALSE(reads.after.counters.at("app:org.gnome.Terminal").cpuSeconds); // garbled cpu.stat
    EXPECT_DOUBLE_EQ(*reads.before.busySeconds, 1308);
}

TEST(SystemActivitySource, GnomeIntervalCountsRisesNewAppsAndLeavesFallenOrGarbledOut)
{
    TreeReads reads("gnome");
    EXPECT_DOUBLE_EQ(reads.interval.cpuSeconds, 600);
    EXPECT_DOUBLE_EQ(reads.cpuOf("app:org.mozilla.firefox"), 120);
    EXPECT_DOUBLE_EQ(reads.cpuOf("app:org.gnome.Nautilus"), 12);
    EXPECT_DOUBLE_EQ(reads.cpuOf("app:org.example.Evil"), 1);
    EXPECT_DOUBLE_EQ(reads.cpuOf("app:org.gnome.Calculator"), 3);
    EXPECT_DOUBLE_EQ(reads.cpuOf("system"), 30);
    EXPECT_DOUBLE_EQ(reads.cpuOf("session"), 44);
    EXPECT_DOUBLE_EQ(reads.cpuOf("other"), 390);
    EXPECT_FALSE(reads.hasUse("app:com.spotify.Client"));
    EXPECT_FALSE(reads.hasUse("app:org.gnome.Terminal"));
    EXPECT_FALSE(reads.hasUse("app:org.gnome.gedit"));
    EXPECT_EQ(reads.interval.uses.front().key, "other");
    EXPECT_DOUBLE_EQ(*reads.interval.screenSeconds, 0.25 * 60); // half, then the panel off
    EXPECT_DOUBLE_EQ(*reads.interval.networkBytes, 9000);
    EXPECT_FALSE(reads.interval.gpuSeconds);
}

TEST(SystemActivitySource, KdeServiceUnitsAddUpPerApplication)
{
    TreeReads reads("kde");
    EXPECT_EQ(reads.before.counters.at("app:org.kde.konsole").name, "Konsole");
    EXPECT_DOUBLE_EQ(reads.cpuOf("app:org.kde.konsole"), 8);
    EXPECT_DOUBLE_EQ(reads.cpuOf("app:org.kde.dolphin"), 1.5);
    EXPECT_DOUBLE_EQ(reads.cpuOf("system"), 10);
    EXPECT_DOUBLE_EQ(reads.cpuOf("session"), 40);
    EXPECT_DOUBLE_EQ(reads.cpuOf("other"), 140.5);
    EXPECT_DOUBLE_EQ(*reads.interval.gpuSeconds, 0.3 * 60);
    EXPECT_DOUBLE_EQ(*reads.interval.screenSeconds, 0.625 * 60);
}

TEST(SystemActivitySource, SwayProcessesByNameWithTheScopesRemainderAsSession)
{
    TreeReads reads("sway");
    EXPECT_DOUBLE_EQ(*reads.before.counters.at("session").cpuSeconds, 75);
    EXPECT_TRUE(reads.before.counters.contains("exe:bad <b>name</b>"));
    EXPECT_FALSE(reads.before.counters.contains("exe:systemd")); // root's
    EXPECT_DOUBLE_EQ(reads.cpuOf("exe:sway"), 15);
    EXPECT_DOUBLE_EQ(reads.cpuOf("exe:foot"), 1);
    EXPECT_DOUBLE_EQ(reads.cpuOf("exe:firefox"), 25);
    EXPECT_DOUBLE_EQ(reads.cpuOf("exe:Web (Content) x"), 0); // exited, kept
    EXPECT_DOUBLE_EQ(reads.cpuOf("exe:vim"), 0);             // its PID reused by make
    EXPECT_DOUBLE_EQ(reads.cpuOf("exe:make"), 3);
    EXPECT_DOUBLE_EQ(reads.cpuOf("exe:grim"), 0.5);
    EXPECT_DOUBLE_EQ(reads.cpuOf("session"), 16);
    EXPECT_DOUBLE_EQ(reads.cpuOf("system"), 5);
    EXPECT_DOUBLE_EQ(reads.cpuOf("other"), 34.5);
}

TEST(SystemActivitySource, CgroupV1LeavesTheRestToKernelAndOther)
{
    TreeReads reads("cgroup-v1");
    EXPECT_FALSE(reads.before.counters.contains("session"));
    EXPECT_FALSE(reads.before.counters.contains("system"));
    EXPECT_DOUBLE_EQ(reads.cpuOf("exe:firefox"), 25);
    EXPECT_DOUBLE_EQ(reads.cpuOf("exe:make"), 3);
    EXPECT_DOUBLE_EQ(reads.cpuOf("other"), 55.5);
    EXPECT_DOUBLE_EQ(reads.interval.cpuSeconds, 100);
}

TEST(SystemActivitySource, AnEmptyRootIsAllUnknownNotACrash)
{
    auto root = std::filesystem::path(testing::TempDir()) / "drainwatch-activity-empty";
    SystemActivitySource source(root / "sys", root / "proc", {root / "share"}, 1000);
    auto snapshot = source.read();
    EXPECT_TRUE(snapshot.counters.empty());
    EXPECT_FALSE(snapshot.busySeconds);
    EXPECT_FALSE(snapshot.brightness);
    EXPECT_FALSE(snapshot.gpuBusy);
    EXPECT_FALSE(snapshot.networkBytes);
}
