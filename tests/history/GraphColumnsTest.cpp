// SPDX-License-Identifier: MIT
#include "history/GraphColumns.h"

#include "support/HistoryDays.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace drainwatch {
namespace {

constexpr double kMidnight = 1800000000;
constexpr double kHour = 3600;

// The recorded day in 96 columns of a quarter of an hour: column 4h+q is
// hour h, quarter q.
class RecordedDay : public ::testing::Test {
protected:
    std::vector<GraphColumn> columns(RateUnit unit = RateUnit::PercentPerHour) const
    {
        return graphColumns(day.samples, day.sleeps, kMidnight, kMidnight + 24 * kHour, 96, unit);
    }
    test::HistoryDay day = test::dayWithTwoSleepsAndACharge(kMidnight);
};

TEST_F(RecordedDay, SleepsAreShadedAndTheAwakeTimeIsNot)
{
    const auto c = columns();
    for (int i = 0; i < 28; ++i)
        EXPECT_TRUE(c[i].asleep && !c[i].gap) << "night, column " << i;
    for (int i = 80; i < 88; ++i)
        EXPECT_TRUE(c[i].asleep) << "evening, column " << i;
    for (int i : {28, 40, 79, 88, 95})
        EXPECT_FALSE(c[i].asleep) << "awake, column " << i;
    // The sleep drew no line of its own: only the wake's sample has a charge.
    EXPECT_FALSE(c[10].lastCharge.has_value());
    EXPECT_NEAR(*c[28].maxCharge, 0.76, 1e-9);
}

TEST_F(RecordedDay, TheTimeDrainwatchDidNotRunIsAGapWithNothingInIt)
{
    const auto c = columns();
    // "quit" at 15:00, "start" at 17:00.
    for (int i = 61; i < 68; ++i) {
        EXPECT_TRUE(c[i].gap) << "column " << i;
        EXPECT_FALSE(c[i].lastCharge || c[i].rate || c[i].asleep || c[i].charging) << "column " << i;
    }
    EXPECT_FALSE(c[60].gap) << "the quit's column has its sample";
    EXPECT_FALSE(c[68].gap) << "the start's column has its sample";
    EXPECT_EQ(std::count_if(c.begin(), c.end(), [](const GraphColumn& x) { return x.gap; }), 7);
}

TEST_F(RecordedDay, TheChargerSpanIsMarkedAndHasNoDrainRate)
{
    const auto c = columns();
    for (int i = 48; i < 54; ++i) {
        EXPECT_TRUE(c[i].charging) << "column " << i;
        EXPECT_FALSE(c[i].rate) << "column " << i;
    }
    for (int i : {47, 55, 70})
        EXPECT_FALSE(c[i].charging) << "column " << i;
    // Up from 36 % to 96 % while on it.
    EXPECT_LT(*c[48].minCharge, 0.37);
    EXPECT_GT(*c[53].maxCharge, 0.95);
    EXPECT_LT(*c[48].lastCharge, *c[53].lastCharge);
}

TEST_F(RecordedDay, TheRateIsInPercentPerHourOrInWatts)
{
    const auto percent = columns(RateUnit::PercentPerHour);
    const auto watts = columns(RateUnit::Watts);
    EXPECT_NEAR(*percent[40].rate, 8, 1e-9);
    // 8 % of 5000 mAh is 400 mA, at 11.8 V.
    EXPECT_NEAR(*watts[40].rate, 0.4 * 11.8, 1e-9);
}

TEST(GraphColumns, FortyFiveThousandSamplesIntoColumnsKeepTheirLowsAndHighs)
{
    // Thirty days, a sample every 57.6 s (none on a column's edge), the
    // charge a saw with a tooth of 56 samples: every column of 56.25 samples
    // holds most of a tooth, its low and high are known.
    const double span = 30 * 24 * kHour;
    const int count = 45000;
    std::vector<HistorySample> samples(count);
    for (int i = 0; i < count; ++i) {
        samples[i].time = kMidnight + span * (i + 0.1) / count;
        const int block = i / 56; // a slow fall under the saw tooth
        samples[i].charge = 0.2 + 0.6 * (i % 56) / 55.0 + 0.0001 * block;
    }
    const auto c = graphColumns(samples, {}, kMidnight, kMidnight + span, 800, RateUnit::PercentPerHour);
    ASSERT_EQ(c.size(), 800u);
    for (int i = 0; i < 800; ++i) {
        ASSERT_FALSE(c[i].gap) << i;
        const int first = static_cast<int>(std::ceil(i * 56.25 - 0.1));
        const int last = static_cast<int>(std::ceil((i + 1) * 56.25 - 0.1)) - 1;
        double low = 1, high = 0;
        for (int s = first; s <= last; ++s) {
            low = std::min(low, samples[s].charge);
            high = std::max(high, samples[s].charge);
        }
        ASSERT_DOUBLE_EQ(*c[i].minCharge, low) << i;
        ASSERT_DOUBLE_EQ(*c[i].maxCharge, high) << i;
        ASSERT_DOUBLE_EQ(*c[i].lastCharge, samples[last].charge) << i;
    }
    EXPECT_LT(*c[0].minCharge, 0.21);
    EXPECT_GT(*c[0].maxCharge, 0.79);
}

TEST(GraphColumns, NoHistoryIsAllGapAndABadRangeIsNoColumns)
{
    const auto c = graphColumns({}, {}, kMidnight, kMidnight + kHour, 10, RateUnit::Watts);
    ASSERT_EQ(c.size(), 10u);
    EXPECT_TRUE(std::all_of(c.begin(), c.end(), [](const GraphColumn& x) { return x.gap && !x.lastCharge; }));
    // A sleep on a range of no width (a window not yet laid out) has no
    // column to go in.
    const std::vector<TimeSpan> sleep{{kMidnight - kHour, kMidnight + kHour}};
    EXPECT_TRUE(graphColumns({}, sleep, kMidnight, kMidnight, 10, RateUnit::Watts).empty());
    EXPECT_TRUE(graphColumns({}, sleep, kMidnight, kMidnight + 1, 0, RateUnit::Watts).empty());
    EXPECT_TRUE(graphColumns({}, sleep, NAN, kMidnight, 5, RateUnit::Watts).empty());
}

TEST(GraphColumns, ASampleBeforeTheRangeCoversItsStartAndANanChargeDrawsNothing)
{
    std::vector<HistorySample> samples(3);
    samples[0].time = kMidnight - 30;
    samples[0].charge = 0.5;
    samples[1].time = kMidnight + 30;
    samples[1].charge = NAN;
    samples[2].time = kMidnight + 90;
    samples[2].charge = 0.49;
    const auto c = graphColumns(samples, {}, kMidnight, kMidnight + 120, 4, RateUnit::PercentPerHour);
    EXPECT_FALSE(c[0].gap);
    EXPECT_FALSE(c[0].lastCharge) << "the range starts after the first sample";
    EXPECT_FALSE(c[1].gap);
    EXPECT_FALSE(c[1].lastCharge) << "nan is no charge";
    EXPECT_DOUBLE_EQ(*c[3].lastCharge, 0.49);
}

TEST(GraphColumns, SleepsOfRecordsAndEventsMergeAndAnEndlessOrBackwardOneShadesNothing)
{
    std::vector<HistorySample> samples(4);
    samples[0].time = 100;
    samples[1].time = 200;
    samples[1].event = "will sleep";
    samples[2].time = 900;
    samples[2].event = "wake";
    samples[3].time = 1000;
    samples[3].event = "will sleep"; // the last sample: no wake yet
    // Columns of 100 s from 0 to 6000.
    const auto c = graphColumns(samples, {{150, 850}, {2000, 3000}, {5000, 4000}, {NAN, 10}}, 0, 6000, 60,
                                RateUnit::PercentPerHour);
    for (int i = 0; i < 60; ++i) {
        const bool asleep = (i >= 1 && i < 9) || (i >= 20 && i < 30);
        EXPECT_EQ(c[i].asleep, asleep) << "column " << i;
    }
    EXPECT_FALSE(c[5].gap || c[9].gap || c[25].gap);
    EXPECT_TRUE(c[0].gap && c[15].gap && c[45].gap) << "nothing before the first sample or after the last";
}

TEST(SampleRate, NeedsItsFiguresAndIsNoneOnTheCharger)
{
    HistorySample s;
    s.currentMA = 500;
    EXPECT_FALSE(sampleRate(s, RateUnit::PercentPerHour)) << "no full capacity";
    EXPECT_FALSE(sampleRate(s, RateUnit::Watts)) << "no voltage";
    s.fullMAh = 0;
    EXPECT_FALSE(sampleRate(s, RateUnit::PercentPerHour));
    s.fullMAh = 4000;
    s.volts = 12;
    EXPECT_DOUBLE_EQ(*sampleRate(s, RateUnit::PercentPerHour), 12.5);
    EXPECT_DOUBLE_EQ(*sampleRate(s, RateUnit::Watts), 6);
    s.onExternalPower = true;
    EXPECT_FALSE(sampleRate(s, RateUnit::Watts));
}

} // namespace
} // namespace drainwatch
