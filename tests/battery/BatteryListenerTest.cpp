// SPDX-License-Identifier: MIT
#include "battery/BatteryListener.h"

#include "battery/MemoryRegistry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace drainwatch {
namespace {

TEST(BatteryListenerLifeTest, OpensWhenMadeAndReleasesOnceWhenDestroyed)
{
    MemoryRegistry registry;
    {
        BatteryListener listener(registry);
        EXPECT_EQ(listener.batt.service, MemoryRegistry::kEntry);
        EXPECT_EQ(registry.releases, 0);
    }
    EXPECT_EQ(registry.releases, 1);
}

TEST(BatteryListenerTest, AmperageIsPositiveWhileDischargingAndIdleIsPlusZero)
{
    MemoryRegistry registry;
    BatteryListener listener(registry);
    for (auto [raw, shown] : {std::pair{-1500, 1500.0}, std::pair{800, -800.0}, std::pair{0, 0.0}}) {
        registry.set("Amperage", std::int64_t{raw});
        ASSERT_EQ(listener.amperage(), shown);
        EXPECT_EQ(std::signbit(*listener.amperage()), shown < 0) << "an idle battery must not show as -0";
    }
}

TEST(BatteryListenerTest, FractionsAreUnclampedAndEmptyWithoutAPositiveDivisor)
{
    MemoryRegistry registry;
    BatteryListener listener(registry);
    using Fraction = std::optional<double>;
    // current, maximum, design -> charge, health
    for (auto [current, maximum, design, charge, health] :
         {std::tuple{2500, 5000, 5000, Fraction(0.5), Fraction(1.0)},
          std::tuple{5100, 5000, 4000, Fraction(1.02), Fraction(1.25)}, std::tuple{0, 0, 0, Fraction(), Fraction()},
          std::tuple{0, -5000, -5000, Fraction(), Fraction()}}) {
        registry.set("CurrentCapacity", std::int64_t{current});
        registry.set("MaxCapacity", std::int64_t{maximum});
        registry.set("DesignCapacity", std::int64_t{design});
        EXPECT_EQ(listener.chargePercentage(), charge) << current << "/" << maximum;
        EXPECT_EQ(listener.healthPercentage(), health) << maximum << "/" << design;
    }
}

TEST(BatteryListenerTest, PowerVoltageIsTheSourcesOwnElseTheVoltage)
{
    MemoryRegistry registry;
    BatteryListener listener(registry);
    EXPECT_EQ(listener.powerVoltage(), std::nullopt);
    registry.set("Voltage", std::int64_t{12345});
    EXPECT_EQ(listener.powerVoltage(), 12.345) << "a source without the figure: watts at the voltage, as ever";
    registry.set("PowerVoltage", std::int64_t{10800});
    EXPECT_EQ(listener.powerVoltage(), 10.8);
    EXPECT_EQ(listener.voltage(), 12.345) << "the voltage keeps its meaning";
    registry.set("PowerVoltage", std::int64_t{0});
    EXPECT_EQ(listener.powerVoltage(), 12.345) << "0 V is no figure";
}

} // namespace
} // namespace drainwatch
