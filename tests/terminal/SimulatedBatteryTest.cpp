// SPDX-License-Identifier: MIT
#include "battery/SimulatedBattery.h"
#include "battery/BatteryListener.h"
#include "measure/MemoryPreferenceStore.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

namespace drainwatch::test {
namespace {

TEST(SimulatedBatteryTest, ChargeFallsWithTheCurrentDrawnSleepsLightlyAndIsRechargedNearEmpty)
{
    FakeClock clock;
    SimulatedBattery simulated{clock};
    BatteryListener listener{simulated};
    auto mAh = [&] { return *listener.chargePercentage() * *listener.maxCapacityMAh(); };
    EXPECT_NEAR(*listener.chargePercentage(), 0.85, 0.001);
    EXPECT_EQ(*listener.designCapacityMAh(), 5200);

    // An hour awake, read every 5 s.
    const double start = mAh();
    double drawn = 0;
    for (int step = 0; step < 720; ++step) {
        drawn += *listener.amperage() * 5 / 3600;
        clock.advance(5);
    }
    EXPECT_NEAR(start - mAh(), drawn, 3) << "sampled every 5 s against the exact integral";

    // A jump of the wall clock drains like a sleep, at a small current.
    const double beforeSleep = mAh();
    clock.advance(3600);
    EXPECT_TRUE(beforeSleep - mAh() > 0 && beforeSleep - mAh() < 100) << beforeSleep - mAh();

    // Near empty a charger fills it again, and goes.
    bool charged = false, unpluggedAgain = false;
    for (int step = 0; step < 12 * 3600 / 5; ++step) {
        clock.advance(5);
        const double charge = *listener.chargePercentage();
        ASSERT_TRUE(charge >= 0.09 && charge <= 1.0) << charge;
        ASSERT_TRUE(!*listener.isCharging() || *listener.amperage() < 0) << "a charging current reads negative";
        charged = charged || *listener.isCharging();
        unpluggedAgain = unpluggedAgain || (charged && !*listener.isCharging());
    }
    EXPECT_TRUE(charged && unpluggedAgain);
}

TEST(SimulatedBatteryTest, ANextRunGoesOnFromTheKeptChargeWithTheTimeBetweenAsASleep)
{
    FakeClock clock;
    MemoryPreferenceStore store;
    double left = 0;
    {
        SimulatedBattery first{clock, &store};
        BatteryListener listener{first};
        for (int step = 0; step < 720; ++step) {
            clock.advance(5);
            left = *listener.chargePercentage();
        }
    }
    ASSERT_LT(left, 0.65) << "an hour at about 1150 mA";

    clock.advance(2 * 3600);
    SimulatedBattery second{clock, &store};
    BatteryListener listener{second};
    const double slept = left - *listener.chargePercentage();
    EXPECT_TRUE(slept > 0 && slept < 0.03) << "two hours at a sleep's current: " << slept;
    EXPECT_FALSE(*listener.isCharging());

    // A charger that was in stays in; a wall clock set back costs nothing.
    store.setInteger(1, "simulatedBattery.charging");
    store.setDouble(clock.now() + 3600, "simulatedBattery.readAt");
    const double kept = store.doubleForKey("simulatedBattery.chargeMAh");
    SimulatedBattery charging{clock, &store};
    BatteryListener chargingListener{charging};
    EXPECT_TRUE(*chargingListener.isCharging() && *chargingListener.amperage() < 0);
    EXPECT_NEAR(*chargingListener.chargePercentage() * SimulatedBattery::kFullMAh, kept, 0.5);

    // A kept charge that cannot be is not taken.
    store.setDouble(-40, "simulatedBattery.chargeMAh");
    SimulatedBattery fresh{clock, &store};
    EXPECT_NEAR(*BatteryListener{fresh}.chargePercentage(), SimulatedBattery::kStartCharge, 0.001);
}

} // namespace
} // namespace drainwatch::test
