// SPDX-License-Identifier: MIT
#include "measure/HeartbeatTimer.h"

#include "measure/MemoryPreferenceStore.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

namespace drainwatch {
namespace {

constexpr double kNow = 1800000000.0; // 2027-01-15 08:00:00 UTC

class HeartbeatTimerTest : public test::LoggedTest {
protected:
    HeartbeatTimerTest() : LoggedTest(kNow) { logInFolder(); }
    MemoryPreferenceStore store;
};

TEST_F(HeartbeatTimerTest, FreshStoreCountsFromTheEpochUntilTheFirstHeartbeatCutsThatOut)
{
    HeartbeatTimer timer(clock, store, "batteryUsage", 15.0);
    EXPECT_EQ(timer.currentTimeSeconds(), 1800000000);
    EXPECT_TRUE(timer.heartbeat());
    EXPECT_EQ(log(), "[08:00:00] Missed heartbeat, last was 1.8e+09s ago\n");
    EXPECT_EQ(timer.currentTimeSeconds(), 0);
}

TEST_F(HeartbeatTimerTest, GapEqualToTheAllowanceIsNoMissButALongerOneIsCutOutWhole)
{
    HeartbeatTimer timer(clock, store, "batteryUsage", 15.0);
    timer.resetAndStart();
    clock.advance(15.0);
    EXPECT_FALSE(timer.heartbeat());
    clock.advance(15.5);
    EXPECT_TRUE(timer.heartbeat());
    EXPECT_EQ(log(), "[08:00:30] Missed heartbeat, last was 15.5s ago\n");
    clock.advance(10.9);
    EXPECT_EQ(timer.currentTimeSeconds(), 25) << "15 counted, 15.5 cut out, 10.9 truncated";

    for (double damaged : {std::nan(""), -1e300}) {
        timer.startedAt = damaged;
        EXPECT_EQ(timer.currentTimeSeconds(), 0) << damaged;
    }
    timer.lastHeartBeat = std::nan("");
    EXPECT_FALSE(timer.heartbeat()) << "a gap that is not a number is no miss";
}

TEST_F(HeartbeatTimerTest, ClockSetBackMovesTheStartWithItAndIsNoMiss)
{
    HeartbeatTimer discharge(clock, store, "batteryUsage", 15.0);
    HeartbeatTimer onBattery(clock, store, "acUsage", std::nullopt);
    discharge.resetAndStart();
    onBattery.resetAndStart();
    for (int tick = 0; tick < 120; ++tick) {
        clock.advance(5);
        discharge.heartbeat();
        onBattery.heartbeat();
    }
    clock.advance(5 - 3600);
    EXPECT_FALSE(discharge.heartbeat());
    EXPECT_FALSE(onBattery.heartbeat());
    EXPECT_EQ(discharge.currentTimeSeconds(), 600);
    EXPECT_EQ(onBattery.currentTimeSeconds(), 600);
    clock.time = discharge.startedAt - 2.5;
    EXPECT_EQ(discharge.currentTimeSeconds(), -2) << "set back again, not yet told: truncated toward zero";
    clock.time = onBattery.lastHeartBeat + 3600;
    EXPECT_FALSE(onBattery.heartbeat()) << "without an allowance nothing is missed";
    EXPECT_EQ(onBattery.currentTimeSeconds(), 600 + 3600);
    EXPECT_EQ(log(), "") << "a clock change is no sleep";
}

TEST_F(HeartbeatTimerTest, OnlySaveWritesAndANewTimerLoadsItsOwnPrefix)
{
    HeartbeatTimer timer(clock, store, "batteryUsage", 15.0);
    timer.resetAndStart();
    clock.advance(7.0);
    timer.heartbeat();
    EXPECT_TRUE(store.entries().empty());
    timer.saveData();

    clock.advance(1000.0);
    HeartbeatTimer loaded(clock, store, "batteryUsage", 15.0);
    EXPECT_EQ(loaded.startedAt, kNow);
    EXPECT_EQ(loaded.lastHeartBeat, kNow + 7.0);
    EXPECT_EQ(HeartbeatTimer(clock, store, "acUsage", 15.0).startedAt, 0.0);
    loaded.removeData();
    EXPECT_EQ(HeartbeatTimer(clock, store, "batteryUsage", 15.0).startedAt, 0.0);
}

} // namespace
} // namespace drainwatch
