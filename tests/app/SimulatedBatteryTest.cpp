#include "battery/BatteryListener.h"
#include "battery/SimulatedBattery.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace drainwatch::test {
namespace {

class SimulatedBatteryTest : public ::testing::Test {
protected:
    FakeClock clock;
    SimulatedBattery simulated{clock};
    BatteryListener listener{simulated};

    double chargeMAh() { return *listener.chargePercentage() * *listener.maxCapacityMAh(); }
};

TEST_F(SimulatedBatteryTest, StartsAsADischargingLaptopBattery)
{
    EXPECT_NEAR(*listener.chargePercentage(), 0.85, 0.001);
    EXPECT_EQ(*listener.maxCapacityMAh(), 5000);
    EXPECT_EQ(*listener.designCapacityMAh(), 5200);
    EXPECT_FALSE(*listener.isCharging());
    EXPECT_GE(*listener.amperage(), 900);
    EXPECT_LE(*listener.amperage(), 1400);
    EXPECT_GE(*listener.voltage(), 11.4);
    EXPECT_LE(*listener.voltage(), 12.6);
}

TEST_F(SimulatedBatteryTest, ChargeFallsAsTheCurrentDrawnOverAnHour)
{
    const double start = chargeMAh();
    double drawnMAh = 0;
    double lowest = 1e9;
    double highest = 0;
    double previous = start;
    for (int step = 0; step < 720; ++step) {
        const double current = *listener.amperage();
        lowest = std::min(lowest, current);
        highest = std::max(highest, current);
        clock.advance(5);
        drawnMAh += current * 5 / 3600;
        const double now = chargeMAh();
        EXPECT_LE(now, previous) << "at step " << step;
        previous = now;
    }
    EXPECT_GE(lowest, 900);
    EXPECT_LE(highest, 1400);
    EXPECT_GT(highest - lowest, 300) << "the current varies";
    // Sampled every 5 s against the exact integral: within a few mAh.
    EXPECT_NEAR(start - chargeMAh(), drawnMAh, 5);
    EXPECT_FALSE(*listener.isCharging());
}

TEST_F(SimulatedBatteryTest, AJumpOfTheWallClockDrainsLikeASleep)
{
    const double before = *listener.chargePercentage();
    clock.advance(3600);
    const double lost = before - *listener.chargePercentage();
    EXPECT_GT(lost, 0);
    EXPECT_LT(lost, 0.02);
}

TEST_F(SimulatedBatteryTest, NearEmptyAChargerFillsItAgain)
{
    bool charged = false;
    bool unpluggedAgain = false;
    for (int step = 0; step < 12 * 3600 / 5; ++step) {
        clock.advance(5);
        const double charge = *listener.chargePercentage();
        ASSERT_TRUE(std::isfinite(charge));
        ASSERT_GE(charge, 0.09);
        ASSERT_LE(charge, 1.0);
        if (*listener.isCharging()) {
            charged = true;
            EXPECT_LT(*listener.amperage(), 0) << "charging current reads negative";
        } else if (charged) {
            unpluggedAgain = true;
        }
    }
    EXPECT_TRUE(charged);
    EXPECT_TRUE(unpluggedAgain);
}

} // namespace
} // namespace drainwatch::test
