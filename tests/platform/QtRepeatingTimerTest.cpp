#include "platform/QtRepeatingTimer.h"

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

namespace drainwatch {
namespace {

TEST(QtRepeatingTimerTest, TicksOneIntervalAfterStartAndARestartReplacesTheCallback)
{
    QtRepeatingTimer timer;
    QElapsedTimer clock;
    std::vector<qint64> ticks;
    clock.start();
    timer.start(0.06, [&] { ticks.push_back(clock.elapsed()); });
    EXPECT_EQ(timer.intervalMilliseconds(), 60);
    EXPECT_TRUE(ticks.empty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks.size() >= 3; }, 3000));
    // A coarse timer may be 5% early, never a whole interval.
    for (std::size_t k = 0; k < 3; ++k)
        EXPECT_GE(ticks[k], static_cast<qint64>(k + 1) * 55) << "tick " << k;

    const std::size_t before = ticks.size();
    int replaced = 0;
    timer.start(0.01, [&] { ++replaced; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return replaced >= 2; }, 3000));
    EXPECT_EQ(ticks.size(), before);
}

} // namespace
} // namespace drainwatch
