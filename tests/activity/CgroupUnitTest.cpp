// SPDX-License-Identifier: MIT
#include "activity/CgroupUnit.h"

#include <gtest/gtest.h>

using namespace drainwatch;

TEST(CgroupUnit, DesktopIdFromEachOfSystemdsAppUnitForms)
{
    EXPECT_EQ(desktopIdOfUnit("app-gnome-org.gnome.Nautilus-1234.scope"), "org.gnome.Nautilus");
    EXPECT_EQ(desktopIdOfUnit("app-flatpak-org.mozilla.firefox-5678.scope"), "org.mozilla.firefox");
    EXPECT_EQ(desktopIdOfUnit("app-org.kde.konsole@0a1b.service"), "org.kde.konsole");
    EXPECT_EQ(desktopIdOfUnit("app-gnome-firefox-2222.scope"), "firefox");
    EXPECT_EQ(desktopIdOfUnit("app-gnome-org.gnome.Evolution\\x2dalarm\\x2dnotify-99.scope"),
              "org.gnome.Evolution-alarm-notify");
    EXPECT_EQ(desktopIdOfUnit("app-flatpak-org.gnome.Builder.slice"), "org.gnome.Builder");
    EXPECT_EQ(desktopIdOfUnit("app-kde-org.kde.dolphin.service"), "org.kde.dolphin");
}

TEST(CgroupUnit, UnitsThatNameNoApplication)
{
    EXPECT_FALSE(desktopIdOfUnit("app.slice"));
    EXPECT_FALSE(desktopIdOfUnit("session.slice"));
    EXPECT_FALSE(desktopIdOfUnit("app-nodash.scope"));
    EXPECT_FALSE(desktopIdOfUnit("app-.service"));
    EXPECT_FALSE(desktopIdOfUnit("app-gnome-x-1.mount"));
    // A control character escaped in the name stays escaped, not raw.
    EXPECT_EQ(desktopIdOfUnit("app-a\\x0ab.service"), "a\\x0ab");
}

TEST(CgroupUnit, UsageFromCpuStat)
{
    auto usage = usageSecondsFromCpuStat("usage_usec 12345678\nuser_usec 10000000\nsystem_usec 2345678\n");
    ASSERT_TRUE(usage);
    EXPECT_DOUBLE_EQ(*usage, 12.345678);
    EXPECT_DOUBLE_EQ(*usageSecondsFromCpuStat("nr_periods 0\nusage_usec 5"), 0.000005);
}

TEST(CgroupUnit, GarbledOrMissingUsageIsUnknown)
{
    EXPECT_FALSE(usageSecondsFromCpuStat(""));
    EXPECT_FALSE(usageSecondsFromCpuStat("user_usec 10\n"));
    EXPECT_FALSE(usageSecondsFromCpuStat("usage_usec \n"));
    EXPECT_FALSE(usageSecondsFromCpuStat("usage_usec 12x4\n"));
    EXPECT_FALSE(usageSecondsFromCpuStat("usage_usec -5\n"));
    EXPECT_FALSE(usageSecondsFromCpuStat("usage_usec 99999999999999999999999\n"));
}
