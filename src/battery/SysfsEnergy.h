// SPDX-License-Identifier: MIT
#pragma once

#include "battery/SysfsSupply.h"

#include <optional>
#include <string_view>
#include <vector>

namespace drainwatch {

// Full-charge and design capacity of batteries that count in energy.
struct EnergyCapacity {
    double fullWh = 0;
    double designWh = 0;
};

} // namespace drainwatch

// Batteries in energy: a battery that counts charge converts at one voltage
// of its own, so that packs of different voltages add up, and the sum goes
// back to the keys' mAh at the first battery's voltage.
namespace drainwatch::sysfs {

// Charge where the driver counts it (most ACPI batteries), else energy.
Units units(Supply& battery);
// µV: the design voltage, else the voltage when the battery was found.
std::optional<double> fixedVoltage(Supply& battery);
// µV: the one that turns this battery's charge into energy and back.
std::optional<double> conversionVoltage(Supply& battery);
// µV, as the battery reads now, else its fixed one.
std::optional<double> liveVoltage(Supply& battery);
std::optional<double> toEnergy(Supply& battery, std::optional<double> amount);
// µWh: the firmware's energy, or its charge at the battery's one voltage.
std::optional<double> batteryEnergy(Supply& battery, std::string_view charge, std::string_view energy);
std::optional<double> totalEnergy(std::vector<Supply>& batteries, std::string_view charge, std::string_view energy);
// When every battery reports energy: the two capacities as the driver gives them.
std::optional<EnergyCapacity> energyCapacity(std::vector<Supply>& batteries);
// µWh to mAh and µW to mA, at the first battery's voltage.
std::optional<double> inKeyUnits(std::vector<Supply>& batteries, std::optional<double> micro);

} // namespace drainwatch::sysfs
