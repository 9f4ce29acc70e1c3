#include "battery/BatteryInfo.h"
#include "battery/MemoryRegistry.h"
#include "battery/SysfsRegistry.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace drainwatch {
namespace {

std::string printout(const char* fixture)
{
    test::FakeClock clock;
    SysfsRegistry registry(std::filesystem::path(DRAINWATCH_TEST_DATA) / "power_supply" / fixture, clock);
    BatteryListener listener(registry);
    std::ostringstream out;
    printBatteryInfo(out, listener);
    return out.str();
}

TEST(BatteryInfo, ChargeBatteryDischarging)
{
    // 2119 of 6439 mAh, design 7393 mAh, 1675 mA: 2119 / 1675 h = 75.9 min.
    EXPECT_EQ(printout("a-acpi-charge-discharging"), "ExternalConnected: false\n"
                                                     "Amperage: -1675\n"
                                                     "CurrentCapacity: 2119\n"
                                                     "CycleCount: 99\n"
                                                     "DesignCapacity: 7393\n"
                                                     "DesignCycleCount9C: (none)\n"
                                                     "FullyCharged: false\n"
                                                     "IsCharging: false\n"
                                                     "MaxCapacity: 6439\n"
                                                     "Temperature: (none)\n"
                                                     "TimeRemaining: 76\n"
                                                     "Voltage: 11049\n"
                                                     "amperage: 1675\n"
                                                     "chargePercentage: 0.329088\n"
                                                     "designCapacityMAh: 7393\n"
                                                     "healthPercentage: 0.870959\n"
                                                     "maxCapacityMAh: 6439\n"
                                                     "isCharging: false\n"
                                                     "voltage: 11.049\n");
}

TEST(BatteryInfo, TwoEnergyBatteriesWithoutRate)
{
    // µWh / voltage_now 12 V: (48 + 1.5) Wh = 4125 mAh of 2 x 5000, design 2 x 6666.67.
    EXPECT_EQ(printout("c-two-batteries"), "ExternalConnected: false\n"
                                           "Amperage: (none)\n"
                                           "CurrentCapacity: 4125\n"
                                           "CycleCount: (none)\n"
                                           "DesignCapacity: 13333\n"
                                           "DesignCycleCount9C: (none)\n"
                                           "FullyCharged: false\n"
                                           "IsCharging: false\n"
                                           "MaxCapacity: 10000\n"
                                           "Temperature: (none)\n"
                                           "TimeRemaining: (none)\n"
                                           "Voltage: 12000\n"
                                           "amperage: (none)\n"
                                           "chargePercentage: 0.4125\n"
                                           "designCapacityMAh: 13333\n"
                                           "healthPercentage: 0.750019\n"
                                           "maxCapacityMAh: 10000\n"
                                           "isCharging: false\n"
                                           "voltage: 12\n");
}

TEST(BatteryInfo, HeldAtThresholdAndNoBattery)
{
    // 48, 60 and 80 Wh at 12 V; no current flows, so no time and no "-0".
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
                                                    "amperage: 0\n"
                                                    "chargePercentage: 0.8\n"
                                                    "designCapacityMAh: 6667\n"
                                                    "healthPercentage: 0.749963\n"
                                                    "maxCapacityMAh: 5000\n"
                                                    "isCharging: true\n"
                                                    "voltage: 12\n");
    EXPECT_EQ(printout("f-desktop-mains-only"), "ExternalConnected: (none)\n"
                                                "Amperage: (none)\n"
                                                "CurrentCapacity: (none)\n"
                                                "CycleCount: (none)\n"
                                                "DesignCapacity: (none)\n"
                                                "DesignCycleCount9C: (none)\n"
                                                "FullyCharged: (none)\n"
                                                "IsCharging: (none)\n"
                                                "MaxCapacity: (none)\n"
                                                "Temperature: (none)\n"
                                                "TimeRemaining: (none)\n"
                                                "Voltage: (none)\n"
                                                "amperage: (none)\n"
                                                "chargePercentage: (none)\n"
                                                "designCapacityMAh: (none)\n"
                                                "healthPercentage: (none)\n"
                                                "maxCapacityMAh: (none)\n"
                                                "isCharging: (none)\n"
                                                "voltage: (none)\n");
}

TEST(BatteryInfo, TemperatureInWholeDegreesAndNeverNotANumber)
{
    MemoryRegistry registry;
    BatteryListener listener(registry);
    const auto temperatureLine = [&] {
        std::ostringstream out;
        printBatteryInfo(out, listener);
        const std::string text = out.str();
        const auto start = text.find("Temperature: ");
        return text.substr(start, text.find('\n', start) - start);
    };
    registry.set("Temperature", std::int64_t{3012});
    EXPECT_EQ(temperatureLine(), "Temperature: 31");
    registry.set("Temperature", std::nan(""));
    EXPECT_EQ(temperatureLine(), "Temperature: (none)");
    registry.set("Temperature", -HUGE_VAL);
    EXPECT_EQ(temperatureLine(), "Temperature: (none)");
}

} // namespace
} // namespace drainwatch
