// SPDX-License-Identifier: MIT
#include "activity/Activity.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace drainwatch;

namespace {

ActivityCounter app(const std::string& name, std::optional<double> cpuSeconds)
{
    ActivityCounter counter;
    counter.name = name;
    counter.cpuSeconds = cpuSeconds;
    return counter;
}

const ActivityUse* useOf(const ActivityInterval& interval, const std::string& key)
{
    for (const auto& use : interval.uses)
        if (use.key == key)
            return &use;
    return nullptr;
}

struct Reads {
    ActivitySnapshot before;
    ActivitySnapshot after;
    Reads()
    {
        before.time = 1000;
        after.time = 1060;
        before.busySeconds = 500;
        after.busySeconds = 530;
    }
};

} // namespace

TEST(ActivityBetween, CountsTheRiseOfEachCounterAndLeavesTheRestToKernelAndOther)
{
    Reads reads;
    reads.before.counters["firefox"] = app("Firefox", 100);
    reads.after.counters["firefox"] = app("Firefox", 112);
    reads.before.counters["system"] = app("System services", 40);
    reads.after.counters["system"] = app("System services", 43);

    auto interval = activityBetween(reads.before, reads.after);
    EXPECT_DOUBLE_EQ(interval.seconds, 60);
    EXPECT_DOUBLE_EQ(interval.cpuSeconds, 30);
    ASSERT_EQ(interval.uses.size(), 3u);
    EXPECT_EQ(interval.uses[0].key, "other");
    EXPECT_DOUBLE_EQ(interval.uses[0].cpuSeconds, 15);
    EXPECT_EQ(interval.uses[0].kind, ActivityKind::Group);
    EXPECT_EQ(interval.uses[1].key, "firefox");
    EXPECT_DOUBLE_EQ(interval.uses[1].cpuSeconds, 12);
    EXPECT_EQ(interval.uses[2].key, "system");
}

TEST(ActivityBetween, AFallenVanishedOrUnknownCounterCountsNothing)
{
    Reads reads;
    reads.before.counters["restarted"] = app("Restarted", 50);
    reads.after.counters["restarted"] = app("Restarted", 2);
    reads.before.counters["gone"] = app("Gone", 10);
    reads.before.counters["garbled"] = app("Garbled", 10);
    reads.after.counters["garbled"] = app("Garbled", std::nullopt);
    reads.before.counters["nan"] = app("Nan", 10);
    reads.after.counters["nan"] = app("Nan", std::numeric_limits<double>::quiet_NaN());

    auto interval = activityBetween(reads.before, reads.after);
    EXPECT_EQ(useOf(interval, "restarted"), nullptr);
    EXPECT_EQ(useOf(interval, "gone"), nullptr);
    EXPECT_EQ(useOf(interval, "garbled"), nullptr);
    EXPECT_EQ(useOf(interval, "nan"), nullptr);
    ASSERT_NE(useOf(interval, "other"), nullptr);
    EXPECT_DOUBLE_EQ(useOf(interval, "other")->cpuSeconds, 30);
}

TEST(ActivityBetween, ANewCounterCountsFromZeroCappedAtTheBusyTime)
{
    Reads reads;
    reads.after.counters["small"] = app("Small", 4);
    reads.after.counters["huge"] = app("Huge", 9000);

    auto interval = activityBetween(reads.before, reads.after);
    EXPECT_DOUBLE_EQ(useOf(interval, "small")->cpuSeconds, 4);
    EXPECT_DOUBLE_EQ(useOf(interval, "huge")->cpuSeconds, 30);
    EXPECT_EQ(useOf(interval, "other"), nullptr);
    EXPECT_DOUBLE_EQ(interval.cpuSeconds, 34);
}

TEST(ActivityBetween, WithoutBusyTimeTheCpuIsTheSumOfUses)
{
    Reads reads;
    reads.after.busySeconds.reset();
    reads.before.counters["a"] = app("A", 1);
    reads.after.counters["a"] = app("A", 3.5);
    reads.after.counters["b"] = app("B", 1.5);

    auto interval = activityBetween(reads.before, reads.after);
    EXPECT_DOUBLE_EQ(interval.cpuSeconds, 4);
    EXPECT_EQ(useOf(interval, "other"), nullptr);
    EXPECT_EQ(interval.uses[0].key, "a");
}

TEST(ActivityBetween, BusyTimeThatFellIsUnknown)
{
    Reads reads;
    reads.after.busySeconds = 10; // after a reboot
    reads.before.counters["a"] = app("A", 1);
    reads.after.counters["a"] = app("A", 2);
    auto interval = activityBetween(reads.before, reads.after);
    EXPECT_DOUBLE_EQ(interval.cpuSeconds, 1);
    EXPECT_EQ(useOf(interval, "other"), nullptr);
}

TEST(ActivityBetween, ScreenGpuAndNetworkFromBothReadsOrUnknown)
{
    Reads reads;
    reads.before.brightness = 0.5;
    reads.after.brightness = 0; // panel turned off
    reads.before.gpuBusy = 0.1;
    reads.after.gpuBusy = 0.3;
    reads.before.networkBytes = 1000;
    reads.after.networkBytes = 5000;
    auto interval = activityBetween(reads.before, reads.after);
    EXPECT_DOUBLE_EQ(*interval.screenSeconds, 15);
    EXPECT_DOUBLE_EQ(*interval.gpuSeconds, 12);
    EXPECT_DOUBLE_EQ(*interval.networkBytes, 4000);

    reads.after.brightness.reset();
    reads.before.gpuBusy = std::numeric_limits<double>::infinity();
    reads.after.networkBytes = 10; // interface came and went
    interval = activityBetween(reads.before, reads.after);
    EXPECT_FALSE(interval.screenSeconds);
    EXPECT_FALSE(interval.gpuSeconds);
    EXPECT_FALSE(interval.networkBytes);
}

TEST(ActivityBetween, TimeGoingBackwardsGivesAnEmptyIntervalNotANegativeOne)
{
    Reads reads;
    reads.after.time = 900;
    reads.before.brightness = 1;
    reads.after.brightness = 1;
    auto interval = activityBetween(reads.before, reads.after);
    EXPECT_DOUBLE_EQ(interval.seconds, 0);
    EXPECT_DOUBLE_EQ(*interval.screenSeconds, 0);
}
