#include "measure/MemoryPreferenceStore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace drainwatch {
namespace {

TEST(MemoryPreferenceStoreTest, MissingKeysReadAsZeroAndSetsReadBackExactly)
{
    MemoryPreferenceStore store;
    EXPECT_EQ(store.doubleForKey("lastPercentage"), 0.0);
    EXPECT_EQ(store.integerForKey("amperageAverage.samples"), 0);
    EXPECT_TRUE(store.entries().empty()) << "reading must not create keys";

    store.setDouble(0.1 + 0.2, "d");
    store.setInteger(std::numeric_limits<std::int64_t>::max(), "i");
    EXPECT_EQ(store.doubleForKey("d"), 0.1 + 0.2);
    EXPECT_EQ(store.integerForKey("i"), std::numeric_limits<std::int64_t>::max());
    store.setDouble(-2.5, "d");
    EXPECT_EQ(store.doubleForKey("d"), -2.5);
}

TEST(MemoryPreferenceStoreTest, AValueReadAsTheOtherTypeConvertsOrReadsZero)
{
    MemoryPreferenceStore store;
    store.setInteger(42, "i");
    store.setDouble(-7.9, "d");
    EXPECT_EQ(store.doubleForKey("i"), 42.0);
    EXPECT_EQ(store.integerForKey("d"), -7);
    for (double noInteger : {std::nan(""), 1e300, -std::numeric_limits<double>::infinity()}) {
        store.setDouble(noInteger, "x");
        EXPECT_EQ(store.integerForKey("x"), 0) << noInteger;
    }
}

} // namespace
} // namespace drainwatch
