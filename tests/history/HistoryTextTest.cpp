// SPDX-License-Identifier: MIT
#include "history/HistoryText.h"
#include "history/LocalTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace drainwatch {
namespace {

// Sets TZ for the scope of a test.
struct Zone {
    explicit Zone(const char* zone)
    {
        const char* old = std::getenv("TZ");
        if (old)
            saved = old;
        had = old != nullptr;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~Zone()
    {
        had ? ::setenv("TZ", saved.c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }
    std::string saved;
    bool had = false;
};

TEST(HistoryText, FieldsAreQuotedOnlyWhereRfc4180AsksIt)
{
    EXPECT_EQ(csvField("charger connected"), "charger connected");
    EXPECT_EQ(csvField("a,b"), "\"a,b\"");
    EXPECT_EQ(csvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(csvField("two\nlines\r"), "\"two\nlines\r\"");
    EXPECT_EQ(csvField(""), "");
}

TEST(HistoryText, TimesCarryTheOffsetOfTheirOwnDate)
{
    const Zone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
    // 2026-12-09 13:05 UTC is winter, 2026-07-01 12:00 UTC summer.
    EXPECT_EQ(isoLocalTime(1796821500), "2026-12-09T14:05:00+01:00");
    EXPECT_EQ(isoLocalTime(1782907200.9), "2026-07-01T14:00:00+02:00");
    const Zone newfoundland("NST3:30");
    EXPECT_EQ(isoLocalTime(1796821500), "2026-12-09T09:35:00-03:30");
    EXPECT_EQ(isoLocalTime(1e300), "");
}

TEST(HistoryText, ADayBeginsAtLocalMidnightAndTheDayAfterIsTheEnd)
{
    const Zone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(localDayStart("2026-12-09"), 1796770800);
    EXPECT_EQ(localDayStart("2026-12-09", 1), 1796770800 + 86400);
    // The day the clocks go forward has 23 hours.
    EXPECT_EQ(*localDayStart("2026-03-29", 1) - *localDayStart("2026-03-29"), 23 * 3600);
    EXPECT_EQ(localDayStart("2026-12-31", 1), localDayStart("2027-01-01"));
    for (const char* bad : {"2026-02-29", "2026-04-31", "2026-12-9", "2026/12/09", "2026-12-09x", "0000-01-01"})
        EXPECT_FALSE(localDayStart(bad)) << bad;
}

TEST(HistoryText, SamplesAndDischargesAsCsvLines)
{
    const Zone utc("UTC0");
    HistorySample known;
    known.time = 1796821500;
    known.charge = 0.8125;
    known.currentMA = -1234.5;
    known.onExternalPower = true;
    known.volts = 12.4;
    known.fullMAh = 4800;
    known.designMAh = 5200;
    known.cycles = 42;
    known.event = "charger connected";
    HistorySample unknown;
    unknown.time = 1796821560;
    unknown.charge = 0.1;
    EXPECT_EQ(samplesCsvHeader() + sampleCsvLine(known) + sampleCsvLine(unknown),
              "time,charge,current_ma,on_external_power,volts,full_mah,design_mah,cycles,event\n"
              "2026-12-09T13:05:00+00:00,0.8125,-1234.5,true,12.4,4800,5200,42,charger connected\n"
              "2026-12-09T13:06:00+00:00,0.1,,false,,,,,\n");
    const DischargeRecord d{1796800000, 1796821500, 7260, 21500, 0.95, 0.41, 0.03, 36000, 40000, 812.25};
    const std::string csv = dischargesCsv({d});
    EXPECT_EQ(csv.substr(csv.find('\n') + 1),
              "2026-12-09T07:06:40+00:00,2026-12-09T13:05:00+00:00,7260,21500,0.95,0.41,0.03,36000,40000,812.25\n");
    EXPECT_EQ(dischargesTable({}), "");
    const std::string table = dischargesTable({d});
    EXPECT_NE(
        table.find("2026-12-09 13:05   02:01   05:58   95.0%   41.0%      3.0%         10:00          11:06    812 mA"),
        std::string::npos)
        << table;
}

} // namespace
} // namespace drainwatch
