// SPDX-License-Identifier: MIT
#include "sleep/SleepText.h"
#include "sleep/WakeSourceNames.h"
#include "support/Fakes.h"
#include "support/Records.h"

#include <gtest/gtest.h>

#include <fstream>

#include <cstdlib>
#include <ctime>

namespace drainwatch {
namespace {

using test::sleepRecord;

TEST(SleepText, DurationsInWords)
{
    EXPECT_EQ(sleepDurationText(15.9), "15 s");
    EXPECT_EQ(sleepDurationText(60), "1 min");
    EXPECT_EQ(sleepDurationText(3599), "59 min");
    EXPECT_EQ(sleepDurationText(28800 + 300), "8 h 05 min");
    EXPECT_EQ(sleepDurationText(-1), "-");
    EXPECT_EQ(sleepDurationText(std::numeric_limits<double>::infinity()), "-");
}

TEST(SleepText, TableWithASummaryPerMode)
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    SleepRecord unknown;
    unknown.how = "not running";
    unknown.start = 1800028800;
    unknown.end = 1800032400;
    unknown.usedPercentage = 0.5;
    unknown.flags = {"not running"};
    SleepRecord second = sleepRecord();
    second.ratePerHour = 1;
    second.milliwatts.reset();
    second.hardwareSleep = 1;
    second.flags.clear();
    second.wokenBy.reset();
    const std::string table = sleepTable({sleepRecord(), unknown, second}, "/nonexistent");
    EXPECT_EQ(table,
              "start                 how long  how          mode       used     %/h      mW  hw sleep  woken by    "
              "                    flags\n"
              "2027-01-15 08:00    8 h 00 min  suspend      s2idle    16.0%    2.00    1540       60%  XHC0,LID0   "
              "                    failed, restless, shallow, high drain\n"
              "2027-01-15 08:00    8 h 00 min  suspend      s2idle    16.0%    1.00       -      100%  -\n"
              "\n"
              "mode      sleeps  median %/h  median mW  median hw sleep\n"
              "s2idle         2        1.50       1540              80%\n"
              "\n"
              "While Drainwatch was not running:\n"
              "start                 how long  how          mode       used     %/h      mW  hw sleep  woken by    "
              "                    flags\n"
              "2027-01-15 16:00    1 h 00 min  not running  unknown    0.5%       -       -         -  -           "
              "                    not running\n");
    // Only gaps: no summary of sleeps.
    EXPECT_EQ(sleepTable({unknown}, "/nonexistent").find("median"), std::string::npos);
    EXPECT_EQ(sleepTable({}, "/nonexistent"), "");
}

TEST(SleepText, LastSleepAndForecast)
{
    EXPECT_EQ(
        lastSleepLine(sleepRecord()),
        "Last sleep: 8 h 00 min in s2idle, 16.0% used, 2.00 %/h, 1540 mW (failed, restless, shallow, high drain)");
    SleepRecord bare;
    bare.how = "unnoticed";
    bare.usedPercentage = -2;
    EXPECT_EQ(lastSleepLine(bare), "Last sleep: -, -2.0% used");
    EXPECT_EQ(sleepForecastLine(0.62, 0.5), "Asleep, 62.0% would last 124 h 00 min at the usual 0.50 %/h");
    EXPECT_EQ(sleepForecastLine(0.62, std::nullopt), "");
    EXPECT_EQ(sleepForecastLine(0.62, 0.0), "");
}

TEST(SleepText, NoticeOnlyForASleepThatWentWrong)
{
    const auto notice = sleepNotice(sleepRecord(), 0.5, "/nonexistent");
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->summary, "Sleep of 8 h 00 min used 16.0% of the battery");
    EXPECT_EQ(notice->body,
              "The battery drained 2.0% an hour, more than twice the usual 0.5% an hour of this laptop's sleeps.\n"
              "The hardware was in its deepest sleep only 60% of the time: something kept it partly awake.\n"
              "One attempt to sleep failed, last because of the device i2c-ELAN0001:00.\n"
              "It woke 3 times and went back to sleep.\n"
              "Woken by XHC0, LID0.\n"
              "Next: the kernel's log of this boot (journalctl -k) says why i2c-ELAN0001:00 failed to suspend; a "
              "newer kernel or firmware for it may help.");
    SleepRecord alone = sleepRecord();
    alone.flags = {"high drain"};
    EXPECT_EQ(sleepNotice(alone, std::nullopt, "/nonexistent")->body,
              "The battery drained 2.0% an hour, more than a laptop should while it sleeps.\nWoken by XHC0, LID0.");
    for (const auto& flags : {std::vector<std::string>{}, {"charged"}, {"not running"}}) {
        SleepRecord fine = sleepRecord();
        fine.flags = flags;
        EXPECT_FALSE(sleepNotice(fine, 0.5, "/nonexistent"));
    }
}

TEST(SleepText, WakeSourcesAsTheOwnerKnowsThemAndOneNextStep)
{
    // A machine whose USB controller is at 0000:00:14.0 and whose Wi-Fi card's class is not one we name.
    test::TemporaryFolder sys;
    for (const auto& [address, cls] : {std::pair{"0000:00:14.0", "0x0c0330"}, std::pair{"0000:02:00.0", "0xff0000"}}) {
        std::filesystem::create_directories(sys.path() / "bus" / "pci" / "devices" / address);
        std::ofstream(sys.path() / "bus" / "pci" / "devices" / address / "class") << cls << "\n";
    }
    const std::pair<const char*, const char*> names[] = {
        {"PNP0C0D:00", "lid (PNP0C0D:00)"},
        {"PNP0C0C:00", "power button (PNP0C0C:00)"},
        {"ACPI0003:00", "charger (ACPI0003:00)"},
        {"acpi", "ACPI event (lid, buttons, charger) (acpi)"},
        {"pinctrl_amd", "GPIO (lid, touchpad) (pinctrl_amd)"},
        {"alarmtimer.0.auto", "alarm timer (a scheduled wake) (alarmtimer.0.auto)"},
        {"0000:00:14.0", "USB controller (0000:00:14.0)"},
        {"0000:02:00.0", "PCI device (0000:02:00.0)"},
        {"0000:c1:00.3", "PCI device (0000:c1:00.3)"}, // no class file
        {"1-2", "USB device (1-2)"},
        {"irq 11", "irq 11"},
        {"AT Translated Set 2 keyboard", "AT Translated Set 2 keyboard"},
    };
    for (const auto& [id, text] : names)
        EXPECT_EQ(wakeSourceText(id, sys.path()), text) << id;

    // The table names them too.
    SleepRecord woken = sleepRecord();
    woken.wokenBy = std::vector<std::string>{"PNP0C0D:00"};
    EXPECT_NE(sleepTable({woken}, sys.path()).find("  lid (PNP0C0D:00)  "), std::string::npos);

    SleepRecord restless = sleepRecord();
    restless.flags = {"restless"};
    restless.wokenBy = std::vector<std::string>{"acpi", "0000:00:14.0", "PNP0C0D:00"};
    EXPECT_EQ(sleepNotice(restless, 0.5, sys.path())->body,
              "It woke 3 times and went back to sleep.\n"
              "Woken by ACPI event (lid, buttons, charger) (acpi), USB controller (0000:00:14.0), lid (PNP0C0D:00).\n"
              "Next: if the USB controller should not wake it, write disabled to "
              "/sys/bus/pci/devices/0000:00:14.0/power/wakeup (as root).");
    restless.wokenBy = std::vector<std::string>{"PNP0C0D:00"};
    EXPECT_NE(sleepNotice(restless, 0.5, sys.path())->body.find("turn it off in /proc/acpi/wakeup"), std::string::npos);
    SleepRecord shallow = sleepRecord();
    shallow.flags = {"shallow"};
    EXPECT_NE(sleepNotice(shallow, 0.5, sys.path())->body.find("pm_debug_messages"), std::string::npos);
}

} // namespace
} // namespace drainwatch
