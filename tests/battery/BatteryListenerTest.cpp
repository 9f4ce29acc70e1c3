#include "battery/BatteryListener.h"

#include "battery/MemoryRegistry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace drainwatch {
namespace {

class NoBattery final : public RegistrySource {
public:
    RegistryHandle matchingService(std::string_view) override { return 0; }
    std::optional<RegistryProperty> property(RegistryHandle, std::string_view) override { return std::nullopt; }
    IOReturn release(RegistryHandle entry) override
    {
        released.push_back(entry);
        return kIOReturnNotFound;
    }
    std::vector<RegistryHandle> released;
};

TEST(BatteryListenerLifeTest, OpensWhenMadeAndReleasesOnceWhenDestroyed)
{
    MemoryRegistry registry;
    {
        BatteryListener listener(registry);
        EXPECT_EQ(listener.batt.service, MemoryRegistry::kEntry);
        (void)listener.voltage();
        EXPECT_EQ(registry.releases, 0);
    }
    EXPECT_EQ(registry.releases, 1);
}

TEST(BatteryListenerLifeTest, WithoutABatteryEveryMetricIsEmpty)
{
    NoBattery source;
    {
        BatteryListener listener(source);
        EXPECT_EQ(listener.batt.service, 0u);
        for (auto metric : {&BatteryListener::amperage, &BatteryListener::chargePercentage,
                            &BatteryListener::designCapacityMAh, &BatteryListener::healthPercentage,
                            &BatteryListener::maxCapacityMAh, &BatteryListener::voltage})
            EXPECT_EQ((listener.*metric)(), std::nullopt);
        EXPECT_EQ(listener.isCharging(), std::nullopt);
    }
    EXPECT_EQ(source.released, std::vector<RegistryHandle>{0});
}

class BatteryListenerTest : public testing::Test {
protected:
    void set(const std::string& key, std::int64_t value) { registry.set(key, value); }

    MemoryRegistry registry;
    BatteryListener listener{registry};
};

TEST_F(BatteryListenerTest, AmperageIsPositiveWhileDischarging)
{
    set("Amperage", -1500);
    EXPECT_EQ(listener.amperage(), 1500.0);
    set("Amperage", 800);
    EXPECT_EQ(listener.amperage(), -800.0);
    set("Amperage", 0);
    ASSERT_EQ(listener.amperage(), 0.0);
    EXPECT_FALSE(std::signbit(*listener.amperage())) << "an idle battery must not show as -0";
}

TEST_F(BatteryListenerTest, ChargeAndHealthAreUnclampedFractions)
{
    set("CurrentCapacity", 2500);
    set("MaxCapacity", 5000);
    set("DesignCapacity", 5000);
    EXPECT_EQ(listener.chargePercentage(), 0.5);
    EXPECT_EQ(listener.healthPercentage(), 1.0);

    set("CurrentCapacity", 5100);
    EXPECT_EQ(listener.chargePercentage(), 1.02);
    set("MaxCapacity", 4500);
    EXPECT_EQ(listener.healthPercentage(), 0.9);
    EXPECT_EQ(listener.maxCapacityMAh(), 4500.0);
    EXPECT_EQ(listener.designCapacityMAh(), 5000.0);
}

TEST_F(BatteryListenerTest, FractionsWithoutAPositiveDivisorAreEmptyNeverInfiniteOrNaN)
{
    for (std::int64_t divisor : {0, -5000}) {
        set("CurrentCapacity", 0);
        set("MaxCapacity", divisor);
        set("DesignCapacity", divisor);
        EXPECT_EQ(listener.chargePercentage(), std::nullopt) << divisor;
        EXPECT_EQ(listener.healthPercentage(), std::nullopt) << divisor;
        EXPECT_EQ(listener.maxCapacityMAh(), double(divisor)) << "the capacity itself is still a reading";
    }
    set("MaxCapacity", 5000);
    registry.remove("DesignCapacity");
    EXPECT_EQ(listener.chargePercentage(), 0.0);
    EXPECT_EQ(listener.healthPercentage(), std::nullopt);
    registry.remove("CurrentCapacity");
    EXPECT_EQ(listener.chargePercentage(), std::nullopt);
}

TEST_F(BatteryListenerTest, VoltageIsInVolts)
{
    set("Voltage", 12345);
    EXPECT_DOUBLE_EQ(*listener.voltage(), 12.345);
    registry.set("Voltage", std::string("12.3"));
    EXPECT_EQ(listener.voltage(), std::nullopt);
}

TEST_F(BatteryListenerTest, IsChargingMeansExternalPowerNotTheBatteryTakingCharge)
{
    registry.set("ExternalConnected", true);
    registry.set("IsCharging", false);
    EXPECT_EQ(listener.isCharging(), true);
    registry.set("ExternalConnected", false);
    registry.set("IsCharging", true);
    EXPECT_EQ(listener.isCharging(), false);
    registry.remove("ExternalConnected");
    EXPECT_EQ(listener.isCharging(), std::nullopt);
}

} // namespace
} // namespace drainwatch
