// SPDX-License-Identifier: MIT
#include "activity/ProcStat.h"

#include <gtest/gtest.h>

using namespace drainwatch;

TEST(ProcStat, BusyIsUserNiceSystemIrqSoftirqStealWithoutIdleOrIowait)
{
    // user nice system idle iowait irq softirq steal guest guest_nice
    auto busy = busySecondsFromStat("cpu  1000 200 300 90000 400 10 20 30 500 0\ncpu0 1 2 3 4 5 6 7 8 9 10\n", 100);
    ASSERT_TRUE(busy);
    EXPECT_DOUBLE_EQ(*busy, 15.6);
}

TEST(ProcStat, GarbledOrShortLinesAreUnknown)
{
    EXPECT_FALSE(busySecondsFromStat("", 100));
    EXPECT_FALSE(busySecondsFromStat("cpu0 1 2 3 4 5 6 7 8\n", 100));
    EXPECT_FALSE(busySecondsFromStat("cpu  1 2 3 4 5\n", 100));
    EXPECT_FALSE(busySecondsFromStat("cpu  1 2 x 4 5 6 7 8\n", 100));
    EXPECT_FALSE(busySecondsFromStat("cpu  -1 2 3 4 5 6 7 8\n", 100));
    EXPECT_FALSE(busySecondsFromStat("cpu  1 2 3 4 5 6 7 8\n", 0));
}

TEST(ProcStat, ReadsTheFileUnderTheRootPassedIn)
{
    EXPECT_FALSE(readBusySeconds("/nonexistent-drainwatch-root"));
    EXPECT_TRUE(readBusySeconds("/proc"));
}
