// SPDX-License-Identifier: MIT
#include "measure/MemoryPreferenceStore.h"

#include <gtest/gtest.h>

#include <cmath>

namespace drainwatch {
namespace {

TEST(MemoryPreferenceStoreTest, MissingKeysReadAsZeroAndADoubleThatIsNoIntegerReadsZero)
{
    MemoryPreferenceStore store;
    EXPECT_EQ(store.doubleForKey("lastPercentage"), 0.0);
    EXPECT_EQ(store.integerForKey("amperageAverage.samples"), 0);
    EXPECT_TRUE(store.entries().empty()) << "reading must not create keys";
    for (double noInteger : {std::nan(""), 1e300}) {
        store.setDouble(noInteger, "x");
        EXPECT_EQ(store.integerForKey("x"), 0) << noInteger;
    }
}

} // namespace
} // namespace drainwatch
