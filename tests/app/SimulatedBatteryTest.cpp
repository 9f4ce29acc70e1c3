#include "battery/BatteryListener.h"
#include "battery/SimulatedBattery.h"
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

} // namespace
} // namespace drainwatch::test
