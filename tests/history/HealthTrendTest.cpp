// SPDX-License-Identifier: MIT
#include "history/HealthTrend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>

namespace drainwatch {
namespace {

constexpr double kStart = 1800000000;
constexpr double kDay = 86400;

// days of history, four samples a day, the full capacity going linearly
// from firstMAh to lastMAh; a cycle a day from 100 where cycles is set.
std::vector<HistorySample> history(int days, double firstMAh, double lastMAh, std::optional<double> designMAh = 5000,
                                   bool cycles = true)
{
    std::vector<HistorySample> samples;
    for (int d = 0; d <= days; ++d)
        for (int q = 0; q < 4; ++q) {
            HistorySample s;
            s.time = kStart + d * kDay + q * 3 * 3600;
            s.charge = 0.5;
            s.fullMAh = firstMAh + (lastMAh - firstMAh) * d / days;
            s.designMAh = designMAh;
            if (cycles)
                s.cycles = 100 + d;
            samples.push_back(s);
        }
    return samples;
}

bool says(const HealthTrend& trend, const std::string& words)
{
    const auto lines = trend.lines();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(words) != l.npos; });
}

TEST(HealthTrend, AFallingCapacityGivesWearPerYearAndPer100CyclesAndTheDateOf80Percent)
{
    // 95 % to 94 % of design in 100 days and 100 cycles.
    const HealthTrend t = healthTrend(history(100, 4750, 4700));
    EXPECT_EQ(t.points.size(), 101u) << "one point a day";
    EXPECT_DOUBLE_EQ(t.spanDays, 100);
    EXPECT_NEAR(*t.capacityPercent, 94, 1e-9);
    EXPECT_EQ(t.cycles, 200);
    EXPECT_NEAR(*t.wearPerYear, 365.25 / 100, 1e-9);
    EXPECT_NEAR(*t.wearPer100Cycles, 1, 1e-9);
    // 14 points to go at 3.6525 a year.
    const double lastTime = kStart + 100 * kDay + 9 * 3600;
    EXPECT_NEAR(*t.eightyPercentAt, lastTime + 14 * 100 * kDay, 1);
    EXPECT_TRUE(says(t, "Wear: 3.7 points a year"));
    EXPECT_TRUE(says(t, "Wear: 1.0 points per 100 cycles"));
    EXPECT_TRUE(says(t, "80% of design is reached about 20"));
}

TEST(HealthTrend, UnderThirtyDaysItSaysSoAndGivesNoPace)
{
    const HealthTrend t = healthTrend(history(29, 4750, 4600));
    EXPECT_FALSE(t.enoughData());
    EXPECT_FALSE(t.wearPerYear || t.wearPer100Cycles || t.eightyPercentAt);
    EXPECT_TRUE(says(t, "needs 30 days of history; there are 29 so far"));
    EXPECT_TRUE(says(t, "Full charge 4600 mAh of 5000 mAh design: 92.0%"));
    EXPECT_TRUE(healthTrend(history(30, 4750, 4600)).enoughData());
}

TEST(HealthTrend, WithoutADesignCapacityThereIsNoPercentNoPaceAndNoDate)
{
    for (const std::optional<double> design : {std::optional<double>(), std::optional<double>(0)}) {
        const HealthTrend t = healthTrend(history(60, 4750, 4600, design));
        EXPECT_FALSE(t.capacityPercent || t.wearPerYear || t.eightyPercentAt);
        EXPECT_TRUE(says(t, "Full charge 4600 mAh; the battery gives no design capacity"));
    }
}

TEST(HealthTrend, WithoutCyclesTheWearIsPerYearOnly)
{
    const HealthTrend t = healthTrend(history(60, 4750, 4600, 5000, false));
    EXPECT_FALSE(t.cycles || t.wearPer100Cycles);
    EXPECT_TRUE(t.wearPerYear && t.eightyPercentAt);
    EXPECT_TRUE(says(t, "The battery gives no cycle count"));
}

TEST(HealthTrend, ARisingCapacityIsNoWearAndHasNoDate)
{
    // Recalibrated upwards, as a battery's gauge does.
    const HealthTrend t = healthTrend(history(60, 4500, 4600));
    EXPECT_LT(*t.wearPerYear, 0);
    EXPECT_FALSE(t.eightyPercentAt);
    EXPECT_TRUE(says(t, "none measured; the capacity has not fallen"));
    EXPECT_FALSE(says(t, "per 100 cycles"));
}

TEST(HealthTrend, BelowEightyPercentOrWearingTooSlowlyThereIsNoDateAndANoHistoryIsWords)
{
    const HealthTrend t = healthTrend(history(60, 4100, 3900));
    EXPECT_FALSE(t.eightyPercentAt);
    EXPECT_TRUE(says(t, "at or below 80% of design"));

    // 0.002 points lost in 60 days: 80 % would be some 1,600 years away.
    const HealthTrend slow = healthTrend(history(60, 4950, 4949.9));
    EXPECT_GT(*slow.wearPerYear, 0);
    EXPECT_FALSE(slow.eightyPercentAt);
    EXPECT_TRUE(says(slow, "more than 100 years away"));

    const HealthTrend none = healthTrend(std::vector<HistorySample>());
    EXPECT_EQ(none.lines(), std::vector<std::string>{"No full-charge capacity recorded yet."});
    std::vector<HistorySample> noCapacity(3);
    EXPECT_TRUE(healthTrend(noCapacity).points.empty());
}

} // namespace
} // namespace drainwatch
