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

TEST(BatteryInfo, RegistryKeysThenListenerValuesEachWithItsUnitOrMeaning)
{
    // 48, 60 and 80 Wh at 12 V, held at a threshold: on the charger, no
    // current, no "-0". The two charging lines say what each means.
    EXPECT_EQ(printout("g-not-charging-threshold"),
              "ExternalConnected: true (the charger is in)\n"
              "Amperage: 0 mA (below 0 while discharging)\n"
              "CurrentCapacity: 4000 mAh\n"
              "CycleCount: (none)\n"
              "DesignCapacity: 6667 mAh\n"
              "DesignCycleCount9C: (none)\n"
              "FullyCharged: false (the battery is full)\n"
              "IsCharging: false (charge flows into the battery)\n"
              "MaxCapacity: 5000 mAh\n"
              "Temperature: (none)\n"
              "TimeRemaining: (none)\n"
              "Voltage: 12000 mV\n"
              "ChargeLimit: 80 % (the charger stops there)\n"
              "PowerVoltage: 12000 mV (Amperage times it is the battery's power)\n"
              "amperage: 0 mA (below 0 while charging)\n"
              "chargePercentage: 0.8 (of the full charge)\n"
              "designCapacityMAh: 6667 mAh\n"
              "healthPercentage: 0.749963 (of the design capacity)\n"
              "maxCapacityMAh: 5000 mAh\n"
              "isCharging: true (the charger is in)\n"
              "voltage: 12 V\n"
              "powerVoltage: 12 V (for watts)\n");
}

TEST(BatteryInfo, PowerVoltageWhereTheSourceGivesItElseTheVoltage)
{
    // µWh count at the design voltage, the current flows at voltage_now.
    const std::string energy = printout("b-thinkpad-energy-discharging");
    for (const char* line : {"\nVoltage: 11660 mV\n", "\nPowerVoltage: 10800 mV", "\npowerVoltage: 10.8 V"})
        EXPECT_NE(energy.find(line), std::string::npos) << line;
    MemoryRegistry simulated;
    simulated.set("Voltage", std::int64_t{12400});
    const std::string plain = printout(simulated);
    for (const char* line : {"\nPowerVoltage: (none)\n", "\npowerVoltage: 12.4 V (for watts)\n"})
        EXPECT_NE(plain.find(line), std::string::npos) << line << plain;
}

TEST(BatteryInfo, WithoutABatteryOnlyTheChargerIsKnown)
{
    std::istringstream lines(printout("f-desktop-mains-only"));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        EXPECT_TRUE(line.ends_with(line.starts_with("ExternalConnected:") || line.starts_with("isCharging:")
                                       ? ": true (the charger is in)"
                                       : ": (none)"))
            << line;
    EXPECT_EQ(count, 22);
}

TEST(BatteryInfo, TemperatureInWholeDegreesAndNeverNotANumber)
{
    MemoryRegistry registry;
    for (auto [raw, line] :
         {std::pair{3012.0, "Temperature: 31 °C\n"}, std::pair{std::nan(""), "Temperature: (none)\n"},
          std::pair{-HUGE_VAL, "Temperature: (none)\n"}}) {
        registry.set("Temperature", raw);
        EXPECT_NE(printout(registry).find(line), std::string::npos) << raw;
    }
}

} // namespace
} // namespace drainwatch
