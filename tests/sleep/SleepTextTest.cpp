// SPDX-License-Identifier: MIT
#include "sleep/SleepText.h"
#include "support/Records.h"

#include <gtest/gtest.h>

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
    const std::string table = sleepTable({sleepRecord(), unknown, second});
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
    EXPECT_EQ(sleepTable({unknown}).find("median"), std::string::npos);
    EXPECT_EQ(sleepTable({}), "");
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
    const auto notice = sleepNotice(sleepRecord(), 0.5);
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->summary, "Sleep of 8 h 00 min used 16.0% of the battery");
    EXPECT_EQ(notice->body,
              "The battery drained 2.0% an hour, more than twice the usual 0.5% an hour of this laptop's sleeps.\n"
              "The hardware was in its deepest sleep only 60% of the time: something kept it partly awake.\n"
              "One attempt to sleep failed, last because of the device i2c-ELAN0001:00.\n"
              "It woke 3 times and went back to sleep.\n"
              "Woken by XHC0, LID0.");
    SleepRecord alone = sleepRecord();
    alone.flags = {"high drain"};
    EXPECT_EQ(sleepNotice(alone, std::nullopt)->body,
              "The battery drained 2.0% an hour, more than a laptop should while it sleeps.\nWoken by XHC0, LID0.");
    for (const auto& flags : {std::vector<std::string>{}, {"charged"}, {"not running"}}) {
        SleepRecord fine = sleepRecord();
        fine.flags = flags;
        EXPECT_FALSE(sleepNotice(fine, 0.5));
    }
}

} // namespace
} // namespace drainwatch
