// SPDX-License-Identifier: MIT
#include "measure/Averages.h"

#include "measure/MemoryPreferenceStore.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace drainwatch {
namespace {

using namespace testing::internal;

TEST(AverageTest, MeanOfEverySampleSinceResetAndAStoredCountBelowOneStartsAfresh)
{
    MemoryPreferenceStore store;
    store.setInteger(-4, "damaged.samples");
    store.setDouble(50.0, "damaged.current");
    Average average(store, "damaged");
    average.recordSample(7.0);
    EXPECT_EQ(average.average(), 7.0) << "not a mean weighted by -4";
    for (double sample : {2.0, 4.0, 5.0})
        average.recordSample(sample);
    EXPECT_DOUBLE_EQ(average.average(), 4.5);

    average.reset();
    EXPECT_EQ(average.average(), 0.0);
    average.recordSample(11.0);
    EXPECT_EQ(average.average(), 11.0);
}

TEST(AverageTest, OnlySaveWritesAndTheSavedCountWeighsTheReloadedMean)
{
    MemoryPreferenceStore store;
    Average saved(store, "amperageAverage");
    for (double sample : {2.0, 4.0, 9.0})
        saved.recordSample(sample);
    EXPECT_TRUE(store.entries().empty());
    saved.saveData();

    Average loaded(store, "amperageAverage");
    EXPECT_DOUBLE_EQ(loaded.average(), 5.0);
    loaded.recordSample(9.0);
    EXPECT_DOUBLE_EQ(loaded.average(), 6.0);
    EXPECT_EQ(Average(store, "other").average(), 0.0);
}

TEST(PerfectRollingAverageTest, AveragesTheLastNSamplesAcrossTheWrapAndAfterAReset)
{
    PerfectRollingAverage window(3);
    EXPECT_EQ(window.average(), 0.0);
    window.recordSample(1.0);
    window.recordSample(2.0);
    EXPECT_DOUBLE_EQ(window.average(), 1.5);
    window.recordSample(3.0);
    EXPECT_DOUBLE_EQ(window.average(), 2.0);
    window.recordSample(10.0); // the 1 leaves the window
    EXPECT_DOUBLE_EQ(window.average(), 5.0);

    window.reset();
    EXPECT_EQ(window.average(), 0.0);
    window.recordSample(4.0);
    EXPECT_DOUBLE_EQ(window.average(), 4.0) << "nothing left of the old window";
    for (double sample : {5.0, 6.0, 7.0})
        window.recordSample(sample);
    EXPECT_DOUBLE_EQ(window.average(), 6.0);

    PerfectRollingAverage one(1);
    one.recordSample(5.0);
    one.recordSample(-7.0);
    EXPECT_EQ(one.average(), -7.0);
    EXPECT_THROW(PerfectRollingAverage(0), std::invalid_argument);
    EXPECT_THROW(PerfectRollingAverage(-1), std::invalid_argument);
}

TEST(RollingAverageTest, ComplainsUntilNSamplesWentInAndSavesWithItsCount)
{
    MemoryPreferenceStore store;
    RollingAverage rolling(store, "r", 4);
    rolling.recordSample(8.0);
    rolling.recordSample(8.0);
    CaptureStdout();
    EXPECT_DOUBLE_EQ(rolling.average(), 3.5); // 8/4, then 2 - 2/4 + 8/4
    EXPECT_EQ(GetCapturedStdout(), "Not enough samples!\n");

    rolling.recordSample(8.0);
    rolling.recordSample(8.0);
    rolling.saveData();
    RollingAverage loaded(store, "r", 4);
    CaptureStdout();
    EXPECT_DOUBLE_EQ(loaded.average(), 5.46875);
    EXPECT_EQ(GetCapturedStdout(), "");
    loaded.reset();
    EXPECT_EQ(loaded.avg, 0.0);
    EXPECT_FALSE(loaded.isAvailable());
}

} // namespace
} // namespace drainwatch
