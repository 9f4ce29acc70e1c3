// SPDX-License-Identifier: MIT
#include "battery/Battery.h"

#include "battery/MemoryRegistry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

namespace drainwatch {
namespace {

using Unit = Battery::TemperatureUnit;

// Hands out a chosen handle and release code, and keeps what it was asked.
class ScriptedSource final : public RegistrySource {
public:
    RegistryHandle matchingService(std::string_view) override
    {
        ++lookups;
        return handle;
    }
    std::optional<RegistryProperty> property(RegistryHandle, std::string_view) override { return std::nullopt; }
    IOReturn release(RegistryHandle entry) override
    {
        released.push_back(entry);
        return releaseCode;
    }
    RegistryHandle handle = 0;
    IOReturn releaseCode = kIOReturnSuccess;
    int lookups = 0;
    std::vector<RegistryHandle> released;
};

TEST(BatteryOpenCloseTest, ReturnCodesAndHandles)
{
    ScriptedSource source;
    Battery battery(source);
    EXPECT_EQ(battery.open(), static_cast<IOReturn>(0xE00002F0)) << "no service";
    EXPECT_EQ(battery.service, 0u);
    source.handle = 7;
    EXPECT_EQ(battery.open(), kIOReturnSuccess) << "a failed open looks again";
    source.handle = 9;
    EXPECT_EQ(battery.open(), static_cast<IOReturn>(0xE00002CD)) << "already open";
    EXPECT_EQ(battery.service, 7u);
    EXPECT_EQ(source.lookups, 2);

    source.releaseCode = kIOReturnBadArgument;
    EXPECT_EQ(battery.close(), source.releaseCode);
    EXPECT_EQ(battery.service, 0u);
    EXPECT_EQ(battery.close(), source.releaseCode);
    EXPECT_EQ(source.released, (std::vector<RegistryHandle>{7, 0})) << "a closed reader still hands 0 over";
}

class BatteryReadTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(battery.open(), kIOReturnSuccess); }

    MemoryRegistry registry;
    Battery battery{registry};
};

TEST_F(BatteryReadTest, ChargeIsFlooredAndUnclampedTimeIsHoursAndTwoDigitMinutes)
{
    for (auto [current, maximum, percent] :
         {std::tuple{4999, 5000, 99.0}, std::tuple{5100, 5000, 102.0}, std::tuple{29, 100, 28.0}}) {
        registry.set("CurrentCapacity", std::int64_t{current});
        registry.set("MaxCapacity", std::int64_t{maximum});
        EXPECT_EQ(battery.charge(), percent) << current << "/" << maximum;
    }
    for (auto [minutes, text] :
         {std::pair{125, "2:05"}, std::pair{65535, "1092:15"}, std::pair{-5, "0:-5"}, std::pair{-65, "-1:-5"}}) {
        registry.set("TimeRemaining", std::int64_t{minutes});
        EXPECT_EQ(battery.timeRemainingFormatted(), text) << minutes;
    }
    registry.remove("MaxCapacity");
    registry.remove("TimeRemaining");
    EXPECT_EQ(battery.charge(), std::nullopt);
    EXPECT_EQ(battery.timeRemainingFormatted(), std::nullopt);
}

TEST_F(BatteryReadTest, TemperatureIsRoundedUpAfterConversion)
{
    registry.set("Temperature", std::int64_t{3000});
    EXPECT_EQ(battery.temperature(), 30.0);
    EXPECT_EQ(battery.temperature(Unit::Fahrenheit), 86.0);
    EXPECT_EQ(battery.temperature(Unit::Kelvin), 304.0); // 303.15 up, not 30 up then + 273
    registry.set("Temperature", 3012.0);
    EXPECT_EQ(battery.temperature(Unit::Celsius), 31.0);
}

TEST_F(BatteryReadTest, NumbersAndTruthValuesConvertTextAndNaNDoNot)
{
    registry.set("CycleCount", -2.9);
    registry.set("Voltage", std::string("12"));
    registry.set("ExternalConnected", std::int64_t{3});
    registry.set("FullyCharged", 0.0);
    EXPECT_EQ(battery.cycleCount(), -2);
    EXPECT_EQ(battery.voltage(), std::nullopt);
    EXPECT_EQ(battery.isACPowered(), true);
    EXPECT_EQ(battery.isCharged(), false);
    registry.set("Amperage", std::nan(""));
    registry.set("CycleCount", 1e300);
    registry.set("IsCharging", std::string("1"));
    EXPECT_EQ(battery.amperage(), std::nullopt);
    EXPECT_EQ(battery.cycleCount(), std::nullopt);
    EXPECT_EQ(battery.isCharging(), std::nullopt);
    battery.close();
    EXPECT_EQ(battery.isACPowered(), std::nullopt) << "a closed reader reads nothing";
}

} // namespace
} // namespace drainwatch
