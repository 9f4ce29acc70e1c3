#include "measure/Averages.h"

#include "measure/MemoryPreferenceStore.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace drainwatch {
namespace {

using namespace testing::internal;

TEST(AverageTest, IsTheMeanOfEverySampleSinceReset)
{
    MemoryPreferenceStore store;
    Average average(store, "amperageAverage");
    EXPECT_EQ(average.average(), 0.0);
    for (double sample : {2.0, 4.0, 9.0})
        average.recordSample(sample);
    EXPECT_DOUBLE_EQ(average.average(), 5.0);
    EXPECT_EQ(average.samples, 3);

    average.reset();
    EXPECT_EQ(average.samples, 0);
    EXPECT_EQ(average.average(), 0.0);
    average.recordSample(11.0);
    EXPECT_EQ(average.average(), 11.0);
}

TEST(AverageTest, FirstSampleWithoutAValidCountReplacesAStoredMean)
{
    MemoryPreferenceStore store;
    store.setDouble(1000.0, "p.current");
    store.setInteger(-4, "damaged.samples");
    store.setDouble(50.0, "damaged.current");
    for (const char* prefix : {"p", "damaged"}) {
        Average average(store, prefix);
        EXPECT_NE(average.average(), 0.0);
        average.recordSample(7.0);
        EXPECT_EQ(average.average(), 7.0) << prefix;
        EXPECT_EQ(average.samples, 1) << prefix;
    }
}

TEST(AverageTest, SavedMeanReloadsAndKeepsItsCountAsWeight)
{
    MemoryPreferenceStore store;
    Average saved(store, "amperageAverage");
    for (double sample : {2.0, 4.0, 9.0})
        saved.recordSample(sample);
    EXPECT_TRUE(store.entries().empty()) << "only saveData writes";
    saved.saveData();
    saved.reset(); // not saved

    Average loaded(store, "amperageAverage");
    EXPECT_EQ(store.integerForKey("amperageAverage.samples"), 3);
    EXPECT_EQ(loaded.samples, 3);
    EXPECT_DOUBLE_EQ(loaded.average(), 5.0);
    loaded.recordSample(9.0);
    EXPECT_DOUBLE_EQ(loaded.average(), 6.0);

    Average other(store, "other");
    EXPECT_EQ(other.samples, 0);
    EXPECT_EQ(other.average(), 0.0);
}

TEST(PerfectRollingAverageTest, AveragesTheLastNSamplesAcrossTheWrap)
{
    PerfectRollingAverage window(3);
    EXPECT_EQ(window.average(), 0.0);
    window.recordSample(1.0);
    window.recordSample(2.0);
    EXPECT_DOUBLE_EQ(window.average(), 1.5);
    EXPECT_FALSE(window.overflowed);

    window.recordSample(3.0);
    EXPECT_DOUBLE_EQ(window.average(), 2.0);
    EXPECT_EQ(window.count, 0);
    EXPECT_TRUE(window.overflowed);

    window.recordSample(10.0); // the 1 leaves the window
    EXPECT_DOUBLE_EQ(window.average(), 5.0);
    EXPECT_EQ(window.sampleData.size(), 3u);
}

TEST(PerfectRollingAverageTest, ResetAfterAWrapStartsAFreshWindow)
{
    PerfectRollingAverage window(3);
    for (double sample : {100.0, 200.0, 300.0, 400.0})
        window.recordSample(sample);
    window.reset();
    EXPECT_EQ(window.average(), 0.0);
    EXPECT_EQ(window.sampleData, (std::vector<double>{0.0, 0.0, 0.0}));

    window.recordSample(4.0);
    EXPECT_DOUBLE_EQ(window.average(), 4.0);
    for (double sample : {5.0, 6.0, 7.0})
        window.recordSample(sample);
    EXPECT_DOUBLE_EQ(window.average(), 6.0);
}

TEST(PerfectRollingAverageTest, WindowOfOneIsTheLatestSampleAndBelowOneIsRefused)
{
    PerfectRollingAverage window(1);
    window.recordSample(5.0);
    window.recordSample(-7.0);
    EXPECT_EQ(window.average(), -7.0);
    EXPECT_THROW(PerfectRollingAverage(0), std::invalid_argument);
    EXPECT_THROW(PerfectRollingAverage(-1), std::invalid_argument);
}

TEST(RollingAverageTest, ClimbsTowardTheSamplesAndComplainsUntilNHaveGoneIn)
{
    MemoryPreferenceStore store;
    RollingAverage rolling(store, "r", 4);
    rolling.recordSample(8.0);
    EXPECT_DOUBLE_EQ(rolling.avg, 2.0);
    rolling.recordSample(8.0);
    EXPECT_FALSE(rolling.isAvailable());
    CaptureStdout();
    EXPECT_DOUBLE_EQ(rolling.average(), 3.5);
    EXPECT_DOUBLE_EQ(rolling.average(), 3.5);
    EXPECT_EQ(GetCapturedStdout(), "Not enough samples!\nNot enough samples!\n");

    rolling.recordSample(8.0);
    rolling.recordSample(8.0);
    EXPECT_TRUE(rolling.isAvailable());
    CaptureStdout();
    EXPECT_DOUBLE_EQ(rolling.average(), 5.46875);
    EXPECT_EQ(GetCapturedStdout(), "");
}

TEST(RollingAverageTest, SaveThenLoadRestoresTheMeanAndCount)
{
    MemoryPreferenceStore store;
    RollingAverage saved(store, "r", 4);
    for (int i = 0; i < 5; ++i)
        saved.recordSample(8.0);
    saved.saveData();

    RollingAverage loaded(store, "r", 4);
    EXPECT_EQ(store.doubleForKey("r.avg"), saved.avg);
    EXPECT_EQ(loaded.avg, saved.avg);
    EXPECT_EQ(loaded.samples, 5);
    loaded.reset();
    EXPECT_EQ(loaded.avg, 0.0);
    EXPECT_FALSE(loaded.isAvailable());
}

} // namespace
} // namespace drainwatch
