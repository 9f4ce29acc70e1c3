// SPDX-License-Identifier: MIT
#include "battery/SysfsEnergy.h"

namespace drainwatch::sysfs {

namespace {

// µV between charge and energy for a battery that gives no voltage at all
// (UPower's choice). One battery's figures do not depend on it.
constexpr double kAssumedVoltage = 10e6;

} // namespace

Units units(Supply& battery)
{
    if (!battery.units)
        battery.units = battery.has("charge_now") || battery.has("charge_full") ? Units::Charge : Units::Energy;
    return *battery.units;
}

std::optional<double> fixedVoltage(Supply& battery)
{
    if (!battery.voltage)
        battery.voltage = positive(battery.number("voltage_min_design"));
    if (!battery.voltage)
        battery.voltage = positive(battery.number("voltage_now"));
    return battery.voltage;
}

std::optional<double> conversionVoltage(Supply& battery)
{
    const auto voltage = fixedVoltage(battery);
    if (!voltage && units(battery) == Units::Charge)
        return kAssumedVoltage;
    return voltage;
}

std::optional<double> liveVoltage(Supply& battery)
{
    if (const auto microvolts = positive(battery.number("voltage_now")))
        return microvolts;
    return fixedVoltage(battery);
}

std::optional<double> toEnergy(Supply& battery, std::optional<double> amount)
{
    if (!amount || units(battery) == Units::Energy)
        return amount;
    const auto microvolts = conversionVoltage(battery);
    return microvolts ? std::optional(*amount * *microvolts / 1e6) : std::nullopt;
}

std::optional<double> batteryEnergy(Supply& battery, std::string_view charge, std::string_view energy)
{
    return toEnergy(battery, notNegative(battery.number(units(battery) == Units::Charge ? charge : energy)));
}

std::optional<double> totalEnergy(std::vector<Supply>& batteries, std::string_view charge, std::string_view energy)
{
    double total = 0;
    for (auto& battery : batteries) {
        const auto value = batteryEnergy(battery, charge, energy);
        if (!value)
            return std::nullopt;
        total += *value;
    }
    return total;
}

std::optional<EnergyCapacity> energyCapacity(std::vector<Supply>& batteries)
{
    if (batteries.empty())
        return std::nullopt;
    EnergyCapacity total;
    for (auto& battery : batteries) {
        if (units(battery) == Units::Charge)
            return std::nullopt;
        const auto full = notNegative(battery.number("energy_full"));
        const auto design = notNegative(battery.number("energy_full_design"));
        if (!full || !design)
            return std::nullopt;
        total.fullWh += *full / 1e6;
        total.designWh += *design / 1e6;
    }
    return total;
}

// One conversion for every key, so that their ratios are those of the energies.
std::optional<double> inKeyUnits(std::vector<Supply>& batteries, std::optional<double> micro)
{
    if (!micro)
        return std::nullopt;
    const auto microvolts = conversionVoltage(batteries.front());
    return microvolts ? std::optional(*micro / *microvolts * 1000) : std::nullopt;
}

} // namespace drainwatch::sysfs
