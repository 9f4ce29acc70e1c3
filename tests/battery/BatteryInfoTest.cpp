// SPDX-License-Identifier: MIT
#include "battery/BatteryInfo.h"
#include "battery/MemoryRegistry.h"
#include "battery/SysfsRegistry.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <cmath>

namespace drainwatch {
namespace {

std::string printout(RegistrySource& registry)
{
    BatteryListener listener(registry);
    return batteryInfoText(listener);
}

std::string printout(const char* fixture)
{
    test::FakeClock clock;
    SysfsRegistry registry(std::filesystem::path(DRAINWATCH_TEST_DATA) / "power_supply" / fixture, clock);
    return printout(registry);
}

TEST(BatteryInfo, RegistryKeysThenListenerValues)
{
    // 48, 60 and 80 Wh at 12 V, held at a threshold: on the charger, no current, no "-0".
    EXPECT_EQ(printout("g-not-charging-threshold"), "ExternalConnected: true\n"
                                                    "Amperage: 0\n"
                                                    "CurrentCapacity: 4000\n"
                                                    "CycleCount: (none)\n"
                                                    "DesignCapacity: 6667\n"
                                                    "DesignCycleCount9C: (none)\n"
                                                    "FullyCharged: false\n"
                                                    "IsCharging: false\n"
                                                    "MaxCapacity: 5000\n"
                                                    "Temperature: (none)\n"
                                                    "TimeRemaining: (none)\n"
                                                    "Voltage: 12000\n"
                                                    "PowerVoltage: 12000\n"
                                                    "amperage: 0\n"
                                                    "chargePercentage: 0.8\n"
                                                    "designCapacityMAh: 6667\n"
                                                    "healthPercentage: 0.749963\n"
                                                    "maxCapacityMAh: 5000\n"
                                                    "isCharging: true\n"
                                                    "voltage: 12\n"
                                                    "powerVoltage: 12\n");
}

TEST(BatteryInfo, PowerVoltageOnlyWhereTheSourceGivesIt)
{
    // µWh count at the design voltage, the current flows at voltage_now.
    const std::string energy = printout("b-thinkpad-energy-discharging");
    for (const char* line : {"\nVoltage: 11660\n", "\nPowerVoltage: 10800\n", "\npowerVoltage: 10.8\n"})
        EXPECT_NE(energy.find(line), std::string::npos) << line;
    MemoryRegistry simulated;
    simulated.set("Voltage", std::int64_t{12400});
    EXPECT_EQ(printout(simulated).find("owerVoltage"), std::string::npos);
}

TEST(BatteryInfo, WithoutABatteryOnlyTheChargerIsKnown)
{
    std::istringstream lines(printout("f-desktop-mains-only"));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        EXPECT_TRUE(line.ends_with(
            line.starts_with("ExternalConnected:") || line.starts_with("isCharging:") ? ": true" : ": (none)"))
            << line;
    EXPECT_EQ(count, 19);
}

TEST(BatteryInfo, TemperatureInWholeDegreesAndNeverNotANumber)
{
    MemoryRegistry registry;
    for (auto [raw, line] : {std::pair{3012.0, "Temperature: 31\n"}, std::pair{std::nan(""), "Temperature: (none)\n"},
                             std::pair{-HUGE_VAL, "Temperature: (none)\n"}}) {
        registry.set("Temperature", raw);
        EXPECT_NE(printout(registry).find(line), std::string::npos) << raw;
    }
}

} // namespace
} // namespace drainwatch
