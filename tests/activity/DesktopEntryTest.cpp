// SPDX-License-Identifier: MIT
#include "activity/DesktopEntry.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace drainwatch;

TEST(DesktopEntry, CleanNameOnOneLineWithMarkupLeftForTheDisplay)
{
    EXPECT_EQ(cleanName("Evil\nName <b>markup</b>\t\x01x"), "Evil Name <b>markup</b> x");
    EXPECT_EQ(cleanName("  \n "), "");
    EXPECT_EQ(cleanName(std::string(100, 'a')).size(), 64u);
    // "é" is two bytes: a cut inside one drops it whole, never half of it.
    EXPECT_EQ(cleanName("a\xc3\xa9\xc3\xa9", 4), "a\xc3\xa9");
    EXPECT_EQ(cleanName("a\xc3\xa9\xc3\xa9", 2), "a");
}

TEST(DesktopEntry, FallbackNameIsTheLastPartOfAReverseDnsId)
{
    EXPECT_EQ(fallbackName("org.gnome.Nautilus"), "Nautilus");
    EXPECT_EQ(fallbackName("firefox"), "firefox");
    EXPECT_EQ(fallbackName("org.kde."), "org.kde.");
}

TEST(DesktopEntry, ReadsNameAndIconOfTheMainGroupFromTheFirstDataDirThatHasIt)
{
    auto root = std::filesystem::path(testing::TempDir()) / "drainwatch-desktop-entry";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "home/applications");
    std::filesystem::create_directories(root / "usr/applications");
    std::ofstream(root / "usr/applications/org.example.App.desktop")
        << "[Desktop Entry]\nName[de]=Beispiel\nName=Example\nIcon=example\n[Desktop Action New]\nName=New window\n";
    std::ofstream(root / "home/applications/org.example.Other.desktop") << "[Desktop Entry]\nIcon=other\n";

    std::vector<std::filesystem::path> dirs{root / "home", root / "usr"};
    auto entry = findDesktopEntry(dirs, "org.example.App");
    EXPECT_EQ(entry.name, "Example");
    EXPECT_EQ(entry.icon, "example");
    auto other = findDesktopEntry(dirs, "org.example.Other");
    EXPECT_EQ(other.name, "Other");
    EXPECT_EQ(other.icon, "other");
    auto missing = findDesktopEntry(dirs, "org.example.Missing");
    EXPECT_EQ(missing.name, "Missing");
    EXPECT_EQ(missing.icon, "");
    std::filesystem::remove_all(root);
}
