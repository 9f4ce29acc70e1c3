#include "battery/Battery.h"

#include "battery/MemoryRegistry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

namespace drainwatch {
namespace {

using Key = Battery::Key;
using Unit = Battery::TemperatureUnit;

// Hands out a chosen handle and release code, and keeps what it was asked.
class ScriptedSource final : public RegistrySource {
public:
    RegistryHandle matchingService(std::string_view name) override
    {
        names.emplace_back(name);
        return handle;
    }
    std::optional<RegistryProperty> property(RegistryHandle, std::string_view) override { return std::nullopt; }
    IOReturn release(RegistryHandle entry) override
    {
        released.push_back(entry);
        return releaseCode;
    }

    RegistryHandle handle = 7;
    IOReturn releaseCode = kIOReturnSuccess;
    std::vector<std::string> names;
    std::vector<RegistryHandle> released;
};

TEST(BatteryOpenCloseTest, OpeningTwiceKeepsTheFirstHandle)
{
    ScriptedSource source;
    Battery battery(source);
    EXPECT_EQ(battery.service, 0u);
    EXPECT_EQ(battery.open(), kIOReturnSuccess);
    source.handle = 9;
    EXPECT_EQ(battery.open(), static_cast<std::int32_t>(0xE00002CD));
    EXPECT_EQ(battery.service, 7u);
    EXPECT_EQ(source.names, std::vector<std::string>{"AppleSmartBattery"}) << "no second lookup";
}

TEST(BatteryOpenCloseTest, WithoutTheServiceEveryOpenLooksAgainAndFails)
{
    ScriptedSource source;
    source.handle = 0;
    Battery battery(source);
    EXPECT_EQ(battery.open(), static_cast<std::int32_t>(0xE00002F0));
    EXPECT_EQ(battery.open(), kIOReturnNotFound);
    EXPECT_EQ(battery.service, 0u);
    source.handle = 3;
    EXPECT_EQ(battery.open(), kIOReturnSuccess);
    EXPECT_EQ(battery.service, 3u);
    EXPECT_EQ(source.names.size(), 3u);
}

TEST(BatteryOpenCloseTest, CloseAlwaysEndsClosedAndPassesTheReleaseCodeOn)
{
    ScriptedSource source;
    Battery battery(source);
    battery.open();
    source.releaseCode = static_cast<IOReturn>(0xE00002C2);
    EXPECT_EQ(battery.close(), static_cast<IOReturn>(0xE00002C2));
    EXPECT_EQ(battery.service, 0u);
    source.releaseCode = -1;
    EXPECT_EQ(battery.close(), -1);
    EXPECT_EQ(source.released, (std::vector<RegistryHandle>{7, 0})) << "a closed reader still hands 0 over";
}

TEST(BatteryKeyTest, RawValuesAreTheExactRegistryKeys)
{
    EXPECT_EQ(Battery::rawValue(Key::ACPowered), "ExternalConnected");
    EXPECT_EQ(Battery::keyFromRawValue("DesignCycleCount9C"), Key::DesignCycleCount);
    for (const char* notAKey : {"DesignCycleCount", "ACPowered", "voltage", ""})
        EXPECT_EQ(Battery::keyFromRawValue(notAKey), std::nullopt) << notAKey;
    for (int i = 0; i < Battery::keyCount; ++i)
        EXPECT_EQ(Battery::keyFromRawValue(Battery::rawValue(Key(i))), Key(i));
}

class BatteryReadTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(battery.open(), kIOReturnSuccess); }
    void set(const std::string& key, std::int64_t value) { registry.set(key, value); }

    MemoryRegistry registry;
    Battery battery{registry};
};

TEST_F(BatteryReadTest, ChargeIsAFlooredUnclampedPercentage)
{
    for (auto [current, maximum, percent] : {std::tuple{4999, 5000, 99.0}, std::tuple{5000, 5000, 100.0},
                                             std::tuple{5100, 5000, 102.0}, std::tuple{29, 100, 28.0}}) {
        set("CurrentCapacity", current);
        set("MaxCapacity", maximum);
        EXPECT_EQ(battery.charge(), percent) << current << "/" << maximum;
    }
    registry.remove("MaxCapacity");
    EXPECT_EQ(battery.charge(), std::nullopt);
}

TEST_F(BatteryReadTest, TimeRemainingIsHoursAndTwoDigitMinutes)
{
    for (auto [minutes, text] : {std::pair{0, "0:00"}, std::pair{59, "0:59"}, std::pair{125, "2:05"},
                                 std::pair{65535, "1092:15"}, std::pair{-5, "0:-5"}, std::pair{-65, "-1:-5"}}) {
        set("TimeRemaining", minutes);
        EXPECT_EQ(battery.timeRemainingFormatted(), text) << minutes;
    }
    registry.remove("TimeRemaining");
    EXPECT_EQ(battery.timeRemainingFormatted(), std::nullopt);
}

TEST_F(BatteryReadTest, TemperatureIsRoundedUpAfterConversion)
{
    set("Temperature", 3000);
    EXPECT_EQ(battery.temperature(), 30.0);
    EXPECT_EQ(battery.temperature(Unit::Fahrenheit), 86.0);
    EXPECT_EQ(battery.temperature(Unit::Kelvin), 304.0);
    registry.set("Temperature", 3012.0);
    EXPECT_EQ(battery.temperature(Unit::Celsius), 31.0);
    EXPECT_EQ(battery.temperature(Unit::Fahrenheit), 87.0);
    EXPECT_EQ(battery.temperature(Unit::Kelvin), 304.0);
}

TEST_F(BatteryReadTest, EachAccessorReadsItsOwnKey)
{
    using Accessor = std::optional<std::int64_t> (Battery::*)() const;
    const std::pair<const char*, Accessor> integers[] = {
        {"Amperage", &Battery::amperage},         {"CurrentCapacity", &Battery::currentCapacity},
        {"MaxCapacity", &Battery::maxCapactiy},   {"DesignCapacity", &Battery::designCapacity},
        {"CycleCount", &Battery::cycleCount},     {"DesignCycleCount9C", &Battery::designCycleCount},
        {"TimeRemaining", &Battery::timeRemaining}, {"Voltage", &Battery::voltage}};
    for (int i = 0; i < 8; ++i)
        set(integers[i].first, -1 - i);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ((battery.*integers[i].second)(), -1 - i) << integers[i].first;
    registry.set("ExternalConnected", true);
    registry.set("IsCharging", false);
    registry.set("FullyCharged", true);
    EXPECT_EQ(battery.isACPowered(), true);
    EXPECT_EQ(battery.isCharging(), false);
    EXPECT_EQ(battery.isCharged(), true);

    registry.remove("DesignCycleCount9C");
    set("DesignCycleCount", 1000);
    EXPECT_EQ(battery.designCycleCount(), std::nullopt);
}

TEST_F(BatteryReadTest, NumbersAndTruthValuesConvertTextDoesNot)
{
    registry.set("CycleCount", 2.9);
    registry.set("Amperage", -2.9);
    registry.set("Voltage", true);
    set("ExternalConnected", 3);
    registry.set("FullyCharged", 0.0);
    EXPECT_EQ(battery.cycleCount(), 2);
    EXPECT_EQ(battery.amperage(), -2);
    EXPECT_EQ(battery.voltage(), 1);
    EXPECT_EQ(battery.isACPowered(), true);
    EXPECT_EQ(battery.isCharged(), false);

    registry.set("Amperage", std::nan(""));
    registry.set("CycleCount", 1e300);
    EXPECT_EQ(battery.amperage(), std::nullopt);
    EXPECT_EQ(battery.cycleCount(), std::nullopt);

    for (const char* key : {"Voltage", "ExternalConnected", "Temperature"})
        registry.set(key, std::string("12"));
    EXPECT_EQ(battery.voltage(), std::nullopt);
    EXPECT_EQ(battery.isACPowered(), std::nullopt);
    EXPECT_EQ(battery.temperature(), std::nullopt);
}

TEST_F(BatteryReadTest, EveryCallReadsAfreshAndAClosedReaderReadsNothing)
{
    set("Voltage", 12000);
    EXPECT_EQ(battery.voltage(), 12000);
    set("Voltage", 11900);
    EXPECT_EQ(battery.voltage(), 11900);
    const int before = registry.reads;
    (void)battery.charge();
    EXPECT_EQ(registry.reads, before + 2);
    battery.close();
    EXPECT_EQ(battery.voltage(), std::nullopt);
}

} // namespace
} // namespace drainwatch
